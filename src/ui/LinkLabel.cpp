#include "ui/LinkLabel.h"

#include <QMouseEvent>
#include <QPainter>

namespace melo::ui {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  setToolTip(text);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  // A style sheet of its own, so the skin cannot turn the link grey.
  setStyleSheet(QStringLiteral("color: #0000ff; text-decoration: underline;"));
}

void LinkLabel::paintEvent(QPaintEvent* /*event*/) {
  // A long address is shortened in the middle rather than cut off; the tool
  // tip shows it whole.
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, width());
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
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
