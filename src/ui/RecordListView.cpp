#include "ui/RecordListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStringList>
#include <memory>

#include "core/text/Gbk.h"

namespace melo::ui {
namespace {

constexpr int kBytesRole = Qt::UserRole;

QString Decoded(const std::string& gbk) {
  return QString::fromStdString(text::GbkToUtf8(gbk));
}

}  // namespace

RecordListView::RecordListView(std::span<const ColumnTemplate> columns, bool multiSelect,
                               QWidget* parent)
    : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                               : QAbstractItemView::SingleSelection);
  // The columns fill the list but for the vertical scroll bar's width; a
  // horizontal bar would only uncover the last few pixels of a title.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  QStringList headings;
  for (const ColumnTemplate& column : columns) {
    headings << QString::fromUtf8(column.heading);
    centred_.push_back(column.centred);
  }
  setColumnCount(static_cast<int>(columns.size()));
  setHeaderLabels(headings);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  // A right click on a heading has nothing to offer, and must not reach the
  // window's own menu either.
  header()->setContextMenuPolicy(Qt::PreventContextMenu);
  for (int c = 0; c < columnCount(); ++c) {
    const ColumnTemplate& column = columns[static_cast<std::size_t>(c)];
    headerItem()->setTextAlignment(c, column.centred ? Qt::AlignCenter : Qt::AlignLeft);
    setColumnWidth(c, column.widthPx);
    setColumnHidden(c, column.widthPx == 0);
  }

  connect(
      selectionModel(), &QItemSelectionModel::selectionChanged, this,
      [this](const QItemSelection& selected, const QItemSelection&) { RememberMark(selected); });
}

int RecordListView::AppendRow(const std::vector<std::string>& gbkTexts) {
  auto item = std::make_unique<QTreeWidgetItem>();
  for (int c = 0; c < columnCount(); ++c) {
    const std::size_t i = static_cast<std::size_t>(c);
    const std::string& bytes = i < gbkTexts.size() ? gbkTexts[i] : std::string();
    item->setText(c, Decoded(bytes));
    item->setData(c, kBytesRole, QByteArray::fromStdString(bytes));
    item->setTextAlignment(c, centred_[i] ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
  }
  QTreeWidgetItem* row = item.get();
  addTopLevelItem(item.release());
  return indexOfTopLevelItem(row);
}

std::string RecordListView::Text(int row, int column) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr || column < 0 || column >= columnCount()) {
    return {};
  }
  return item->data(column, kBytesRole).toByteArray().toStdString();
}

int RecordListView::SelectionMark() const {
  return mark_.isValid() ? mark_.row() : -1;
}

void RecordListView::SetSelectionMark(int row) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item != nullptr) {
    setCurrentItem(item);
  }
}

void RecordListView::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) {
    return;
  }
  std::unique_ptr<QTreeWidgetItem> taken(takeTopLevelItem(row));
}

void RecordListView::DeleteAllRows() {
  clear();
}

void RecordListView::RememberMark(const QItemSelection& selected) {
  if (selected.isEmpty()) {
    return;
  }
  const QModelIndex current = selectionModel()->currentIndex();
  const QModelIndex picked =
      current.isValid() && selected.contains(current) ? current : selected.indexes().last();
  mark_ = picked.siblingAtColumn(0);
}

}  // namespace melo::ui
