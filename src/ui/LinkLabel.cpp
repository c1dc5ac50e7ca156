#include "ui/LinkLabel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "ui/Skin.h"

namespace melo::ui {
namespace {

constexpr int kGap = 4;

}  // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  setToolTip(text);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  // A colour of its own, so the skin cannot turn the link grey.
  QPalette linkColours = palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    linkColours.setColor(group, QPalette::WindowText, kLinkText);
  }
  setPalette(linkColours);
  // Qt hands a release to the widget that took the press; the link must
  // hear releases over it from presses anywhere.
  qApp->installEventFilter(this);
}

bool LinkLabel::eventFilter(QObject* watched, QEvent* event) {
  // The release goes to whichever widget of this window took the press. Only
  // its first delivery is spontaneous: the copies that bubble up to that
  // widget's parents are not, so one release opens the link once.
  if (event->type() == QEvent::MouseButtonRelease && event->spontaneous() &&
      watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == window()) {
    const auto* release = static_cast<QMouseEvent*>(event);
    if (release->button() == Qt::LeftButton && isVisible() &&
        rect().contains(mapFromGlobal(release->globalPosition().toPoint()))) {
      emit activated();
    }
  }
  return QLabel::eventFilter(watched, event);
}

void LinkLabel::paintEvent(QPaintEvent* /*event*/) {
  // An address too long even for the grown label is shortened in the
  // middle rather than cut off; the tool tip shows it whole.
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, width());
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

// The press and release on the label itself are the filter's; the dialog
// beneath must not see them.
void LinkLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
}

void FitLinkToItsText(QLabel& link) {
  QWidget* dialog = link.parentWidget();
  const QRect template_ = link.geometry();
  const QSize wanted(link.fontMetrics().horizontalAdvance(link.text()) + 2,
                     std::max(link.sizeHint().height(), template_.height()));
  int leftmost = 0;
  int rightmost = dialog->width() - kGap;
  for (QWidget* other : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QRect place = other->geometry();
    if (other == &link || other->isHidden() || place.bottom() < template_.top() ||
        place.top() > template_.bottom()) {
      continue;
    }
    if (place.left() < template_.left()) {
      leftmost = std::max(leftmost, place.left() + other->sizeHint().width() + kGap);
    } else {
      rightmost = std::min(rightmost, place.left() - kGap);
    }
  }
  QRect place(template_.topLeft(), wanted);
  place.moveCenter({place.center().x(), template_.center().y()});
  if (place.right() > rightmost) {
    place.moveRight(rightmost);
  }
  if (place.left() < leftmost) {
    place.setLeft(leftmost);
  }
  link.setGeometry(place);
}

}  // namespace melo::ui
