#pragma once
// Draws a list's cells as usual; a cell whose text is cut off with "…" shows
// the whole text as its tooltip.

#include <QStyledItemDelegate>

namespace melo::ui {

class CutTextToolTips : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;
};

}  // namespace melo::ui
