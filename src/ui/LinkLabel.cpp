#include "ui/LinkLabel.h"

#include <QMouseEvent>

namespace melo::ui {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  // A style sheet of its own, so the skin cannot turn the link grey.
  setStyleSheet(QStringLiteral("color: #0000ff; text-decoration: underline;"));
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit activated();
  }
}

}  // namespace melo::ui
