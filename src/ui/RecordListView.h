#pragma once
// A report-style list whose rows hold the page's own bytes (GBK) per column
// and show them decoded, so nothing is lost on the way back out. Columns of
// width 0 are hidden but hold their texts like any other.
//
// The rows live in a model of the list's own that keeps each row's bytes once
// and decodes only the rows on screen: a crawl may fill it with a hundred
// thousand songs while the window stays responsive.

#include <QPersistentModelIndex>
#include <QTreeView>
#include <span>
#include <string>
#include <vector>

#include "ui/DialogTemplates.h"

namespace melo::ui {

class RecordModel;

class RecordListView : public QTreeView {
  Q_OBJECT

 public:
  RecordListView(std::span<const ColumnTemplate> columns, bool multiSelect, QWidget* parent);

  // Appends one row with every column's text set at once; returns its index.
  int AppendRow(const std::vector<std::string>& gbkTexts);
  // Shows the rows appended so far now rather than at the next announcement.
  void ShowPendingRows();
  int RowCount() const;
  int ColumnCount() const;
  // The stored bytes of column `column` of row `row`; "" outside the list.
  std::string Text(int row, int column) const;
  // What the list shows there: the bytes decoded.
  QString DisplayText(int row, int column) const;
  QString Heading(int column) const;

  // The index of the row the user last selected, -1 when there is none
  // (also once that row has been deleted).
  int SelectionMark() const;
  void SetSelectionMark(int row);  // selects the row as a click would
  std::vector<int> SelectedRows() const;

  // Deleting a row that is not there does nothing.
  void DeleteRow(int row);
  void DeleteAllRows();

 private:
  void RememberMark(const QItemSelection& selected);

  RecordModel* records_;
  QPersistentModelIndex mark_;
};

}  // namespace melo::ui
