#include "ui/CutTextToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace melo::ui {
namespace {

// As the style lays a cell's text out: inside the text rectangle, less the
// focus frame's margin on either side; and a column that runs past the
// list's right edge is cut there.
bool TextIsCut(const QStyleOptionViewItem& cell, const QAbstractItemView& view) {
  const QStyle* style = view.style();
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
  const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, &view);
  const QRect shown = textRect.intersected(view.viewport()->rect());
  return cell.fontMetrics.horizontalAdvance(cell.text) > shown.width() - 2 * margin;
}

}  // namespace

bool CutTextToolTips::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip || !index.isValid()) {
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  if (!cell.text.isEmpty() && TextIsCut(cell, *view)) {
    QToolTip::showText(event->globalPos(), cell.text, view->viewport(), option.rect);
  } else {
    QToolTip::hideText();
  }
  return true;
}

}  // namespace melo::ui
