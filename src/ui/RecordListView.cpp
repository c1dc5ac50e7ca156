#include "ui/RecordListView.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/text/Gbk.h"
#include "ui/CutTextToolTips.h"

namespace melo::ui {

namespace {

// Each announcement of new rows costs the view a layout of every row, so
// rows that arrive in a stream are announced at most this often.
constexpr int kAnnounceIntervalMs = 100;

// Qt sizes every heading as if it were bold, which it paints only for
// highlighted sections, and these lists highlight none: measured in the font
// it is shown in, a heading (full-width glyphs, as wide and as high in either
// weight) keeps its size, and the window's first frame need not wait for a
// second font file to open.
class PlainHeader : public QHeaderView {
 public:
  using QHeaderView::QHeaderView;

 protected:
  QSize sectionSizeFromContents(int logicalIndex) const override {
    ensurePolished();
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.section = logicalIndex;
    option.text = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
  }
};

}  // namespace

// Each row is one string holding its columns' bytes back to back, and the
// end offset of each column: about the bytes themselves plus 50 bytes a row.
// The view learns of appended rows a little later (see Announce); everything
// else reads the stored rows.
class RecordModel : public QAbstractTableModel {
 public:
  RecordModel(std::span<const ColumnTemplate> columns, QObject* parent)
      : QAbstractTableModel(parent) {
    for (const ColumnTemplate& column : columns) {
      headings_.push_back(QString::fromUtf8(column.heading));
      centred_.push_back(column.centred);
    }
    announceLater_.setSingleShot(true);
    connect(&announceLater_, &QTimer::timeout, this, &RecordModel::Announce);
    sinceAnnounce_.start();
  }

  // The rows the view knows of.
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : announced_;
  }
  int StoredRows() const { return static_cast<int>(rows_.size()); }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid())
      return {};
    if (role == Qt::DisplayRole)
      return Decoded(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
      return static_cast<int>(Centred(index.column()) ? Qt::Alignment(Qt::AlignCenter)
                                                      : Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
      return {};
    if (role == Qt::DisplayRole)
      return headings_[section];
    if (role == Qt::TextAlignmentRole)
      return static_cast<int>(Centred(section) ? Qt::AlignCenter : Qt::AlignLeft);
    return {};
  }

  int Append(const std::vector<std::string>& texts) {
    const int row = StoredRows();
    std::string bytes;
    for (std::size_t c = 0; c < Columns(); ++c) {
      if (c < texts.size())
        bytes += texts[c];
      ends_.push_back(static_cast<std::uint32_t>(bytes.size()));
    }
    bytes.shrink_to_fit();
    rows_.push_back(std::move(bytes));
    if (announceLater_.isActive())
      return row;
    const qint64 sinceLast = sinceAnnounce_.elapsed();
    if (sinceLast >= kAnnounceIntervalMs)
      Announce();
    else
      announceLater_.start(static_cast<int>(kAnnounceIntervalMs - sinceLast));
    return row;
  }

  // Tells the view of the rows appended since it last heard.
  void Announce() {
    announceLater_.stop();
    sinceAnnounce_.restart();
    if (announced_ == StoredRows())
      return;
    beginInsertRows({}, announced_, StoredRows() - 1);
    announced_ = StoredRows();
    endInsertRows();
  }

  std::string_view Bytes(int row, int column) const {
    if (row < 0 || row >= StoredRows() || column < 0 || column >= columnCount())
      return {};
    const std::size_t first = static_cast<std::size_t>(row) * Columns();
    const std::size_t start = column == 0 ? 0 : ends_[first + static_cast<std::size_t>(column) - 1];
    const std::size_t end = ends_[first + static_cast<std::size_t>(column)];
    return std::string_view(rows_[static_cast<std::size_t>(row)]).substr(start, end - start);
  }

  QString Decoded(int row, int column) const {
    return QString::fromStdString(text::GbkToUtf8(Bytes(row, column)));
  }

  void Remove(int row) {
    Announce();
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    const auto first =
        ends_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(row) * Columns());
    ends_.erase(first, first + static_cast<std::ptrdiff_t>(Columns()));
    --announced_;
    endRemoveRows();
  }

  void Clear() {
    beginResetModel();
    announceLater_.stop();
    rows_ = {};
    ends_ = {};
    announced_ = 0;
    endResetModel();
  }

 private:
  std::size_t Columns() const { return centred_.size(); }
  bool Centred(int column) const { return centred_[static_cast<std::size_t>(column)]; }

  QStringList headings_;
  std::vector<bool> centred_;
  std::vector<std::string> rows_;
  std::vector<std::uint32_t> ends_;  // columnCount() a row
  int announced_ = 0;
  QTimer announceLater_;
  QElapsedTimer sinceAnnounce_;
};

RecordListView::RecordListView(std::span<const ColumnTemplate> columns, bool multiSelect,
                               QWidget* parent)
    : QTreeView(parent), records_(new RecordModel(columns, this)) {
  auto* heading = new PlainHeader(Qt::Horizontal, this);
  heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);  // as the view's own
  setHeader(heading);
  setModel(records_);
  setItemDelegate(new CutTextToolTips(this));
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

  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  // A right click on a heading has nothing to offer, and must not reach the
  // window's own menu either.
  header()->setContextMenuPolicy(Qt::PreventContextMenu);
  header()->setSectionsClickable(false);
  for (int c = 0; c < ColumnCount(); ++c) {
    const ColumnTemplate& column = columns[static_cast<std::size_t>(c)];
    setColumnWidth(c, column.widthPx);
    setColumnHidden(c, column.widthPx == 0);
  }

  connect(
      selectionModel(), &QItemSelectionModel::selectionChanged, this,
      [this](const QItemSelection& selected, const QItemSelection&) { RememberMark(selected); });
}

int RecordListView::AppendRow(const std::vector<std::string>& gbkTexts) {
  return records_->Append(gbkTexts);
}

void RecordListView::ShowPendingRows() {
  records_->Announce();
}

int RecordListView::RowCount() const {
  return records_->StoredRows();
}

int RecordListView::ColumnCount() const {
  return records_->columnCount();
}

std::string RecordListView::Text(int row, int column) const {
  return std::string(records_->Bytes(row, column));
}

QString RecordListView::DisplayText(int row, int column) const {
  return records_->Decoded(row, column);
}

QString RecordListView::Heading(int column) const {
  return records_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

int RecordListView::SelectionMark() const {
  return mark_.isValid() ? mark_.row() : -1;
}

void RecordListView::SetSelectionMark(int row) {
  if (row >= 0 && row < RowCount()) {
    records_->Announce();
    setCurrentIndex(records_->index(row, 0));
  }
}

std::vector<int> RecordListView::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void RecordListView::DeleteRow(int row) {
  if (row >= 0 && row < RowCount()) {
    records_->Remove(row);
  }
}

void RecordListView::DeleteAllRows() {
  records_->Clear();
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
