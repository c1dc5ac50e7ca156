#include "ui/DownloadWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "core/download/Id3Tags.h"
#include "core/store/ListStore.h"
#include "core/text/Gbk.h"
#include "ui/AccessibleTexts.h"
#include "ui/CutTextToolTips.h"

namespace melo::ui {

namespace {

enum Column { kSingerColumn, kTitleColumn, kProgressColumn, kSpeedColumn, kStateColumn };

QString Speed(double bytesPerSecond) {
  if (bytesPerSecond >= 1024 * 1024)
    return QString::number(bytesPerSecond / (1024 * 1024), 'f', 1) + QStringLiteral(" MB/s");
  return QString::number(bytesPerSecond / 1024, 'f', 1) + QStringLiteral(" KB/s");
}

QString Gbk(const std::string& bytes) {
  return QString::fromStdString(text::GbkToUtf8(bytes));
}

}  // namespace

// Hands each event to the window's thread; the worker never waits for it,
// so a window joining this very worker cannot deadlock with it. The window
// joins every batch before it goes, so `window_` outlives the worker.
class WindowDownloads final : public download::DownloadReporter {
 public:
  WindowDownloads(DownloadWindow& window, DownloadWindow::BatchId batch)
      : window_(window), batch_(batch) {}

  void Started(std::size_t index) override {
    Post([batch = batch_, index](DownloadWindow& w) { w.OnStarted(batch, index); });
  }
  void Progress(std::size_t index, std::uint64_t bytes, std::uint64_t total,
                double speed) override {
    Post([batch = batch_, index, bytes, total, speed](DownloadWindow& w) {
      w.OnProgress(batch, index, bytes, total, speed);
    });
  }
  void SongDone(std::size_t index, const download::DownloadResult& result) override {
    Post([batch = batch_, index, result](DownloadWindow& w) { w.OnDone(batch, index, result); });
  }
  void Result(std::size_t, const scrape::SongRecord&, const download::DownloadResult&) override {}

  void Post(std::function<void(DownloadWindow&)> event) {
    QMetaObject::invokeMethod(
        &window_, [window = &window_, event = std::move(event)] { event(*window); },
        Qt::QueuedConnection);
  }

 private:
  DownloadWindow& window_;
  DownloadWindow::BatchId batch_;
};

DownloadWindow::DownloadWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DownloadWindow"));
  setWindowTitle(QString::fromUtf8("下载"));
  setModal(false);
  resize(640, 360);

  rows_ = new QTreeWidget(this);
  rows_->setObjectName(QStringLiteral("DownloadRows"));
  rows_->setRootIsDecorated(false);
  rows_->setItemDelegate(new CutTextToolTips(rows_));
  rows_->setHeaderLabels({QString::fromUtf8("歌手"), QString::fromUtf8("歌名"),
                          QString::fromUtf8("进度"), QString::fromUtf8("速度"),
                          QString::fromUtf8("状态")});

  folder_ = new QLineEdit(this);
  folder_->setObjectName(QStringLiteral("DownloadFolder"));
  folder_->setReadOnly(true);
  folder_->setText(QString::fromStdString(download::DefaultMusicFolder().string()));
  auto* change = new QPushButton(QString::fromUtf8("更改..."), this);
  auto* open = new QPushButton(QString::fromUtf8("打开文件夹"), this);
  auto* stop = new QPushButton(QString::fromUtf8("停止"), this);
  auto* resume = new QPushButton(QString::fromUtf8("继续"), this);
  auto* retry = new QPushButton(QString::fromUtf8("重试失败的"), this);
  auto* clearFinished = new QPushButton(QString::fromUtf8("清除已完成"), this);
  connect(change, &QPushButton::clicked, this, &DownloadWindow::ChooseFolder);
  connect(open, &QPushButton::clicked, this, &DownloadWindow::OpenFolder);
  connect(stop, &QPushButton::clicked, this, &DownloadWindow::StopAll);
  connect(resume, &QPushButton::clicked, this, &DownloadWindow::ContinueStopped);
  connect(retry, &QPushButton::clicked, this, &DownloadWindow::RetryFailed);
  connect(clearFinished, &QPushButton::clicked, this, &DownloadWindow::ClearFinished);

  auto* folderLine = new QHBoxLayout;
  auto* folderLabel = new QLabel(QString::fromUtf8("保存到:"), this);
  folderLine->addWidget(folderLabel);
  folderLine->addWidget(folder_, 1);
  folderLine->addWidget(change);
  folderLine->addWidget(open);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(stop);
  buttons->addWidget(resume);
  buttons->addWidget(retry);
  buttons->addWidget(clearFinished);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rows_, 1);
  layout->addLayout(folderLine);
  layout->addLayout(buttons);
  ApplyAccessibleTexts(*this);
}

DownloadWindow::~DownloadWindow() {
  StopAll();
}

void DownloadWindow::SetFolder(const QString& folder) {
  folder_->setText(folder);
}

QString DownloadWindow::Folder() const {
  return folder_->text();
}

void DownloadWindow::SetChoices(const DownloadChoices& choices) {
  choices_ = choices;
  if (!choices.folder.isEmpty())
    SetFolder(choices.folder);
}

void DownloadWindow::KeepIn(store::ListStore* store) {
  store_ = store;
}

void DownloadWindow::Restore(const std::vector<store::DownloadEntry>& entries) {
  for (const store::DownloadEntry& entry : entries) {
    const int index = AddRow(entry.song, entry.folder);
    Row& row = songs_[index];
    row.entryId = entry.id;
    row.finished = entry.finished;
    row.totalBytes = entry.totalBytes;
    nextEntryId_ = std::max(nextEntryId_, entry.id + 1);
    if (entry.finished) {
      row.bar->setValue(100);
      SetState(index, QString::fromUtf8("已完成"));
      continue;
    }
    std::filesystem::path part = std::filesystem::path(entry.folder) /
                                 download::FileNameFor(entry.song, OptionsFor(entry.folder));
    part += ".part";
    std::error_code error;
    // A .part starts with the room its tags get, then the song's bytes.
    const std::uintmax_t size = std::filesystem::file_size(part, error);
    const std::uint64_t held = size > download::kTagRoomBytes ? size - download::kTagRoomBytes : 0;
    if (!error && entry.totalBytes > 0) {
      row.bar->setValue(
          static_cast<int>(std::min<std::uint64_t>(100, held * 100 / entry.totalBytes)));
    } else if (!error) {
      // The song's size never came (the server went quiet first): what the
      // .part holds is all there is to show.
      row.item->setText(kSpeedColumn,
                        QString::fromUtf8("已下载 ") +
                            QString::number(static_cast<double>(held) / 1024, 'f', 1) +
                            QStringLiteral(" KB"));
    }
    SetState(index, QString::fromUtf8("已停止"));
  }
}

int DownloadWindow::AddRow(const scrape::SongRecord& song, const std::string& folder) {
  auto* item = new QTreeWidgetItem(rows_, {Gbk(song.singer), Gbk(song.title)});
  auto* bar = new QProgressBar;
  bar->setRange(0, 100);
  bar->setValue(0);
  rows_->setItemWidget(item, kProgressColumn, bar);
  Row row{.song = song, .item = item, .bar = bar, .folder = folder};
  songs_.push_back(std::move(row));
  return static_cast<int>(songs_.size()) - 1;
}

void DownloadWindow::Keep(const Row& row) {
  if (store_ != nullptr)
    store_->PutDownload({row.entryId, row.song, row.folder, row.finished, row.totalBytes});
}

download::DownloadOptions DownloadWindow::OptionsFor(const std::string& folder) const {
  download::DownloadOptions options;
  options.folder = folder;
  options.nameTemplate = choices_.nameTemplate.toStdString();
  options.jobs = choices_.jobs;
  options.id3v2Version = choices_.id3Version;
  if (choices_.maxFileSize > 0) {
    options.maxFileSize = static_cast<std::uint64_t>(choices_.maxFileSize);
  }
  return options;
}

void DownloadWindow::Download(const std::vector<scrape::SongRecord>& songs) {
  std::vector<int> batch;
  for (const scrape::SongRecord& song : songs) {
    int row = -1;
    for (std::size_t r = 0; r < songs_.size(); ++r) {
      if (songs_[r].song == song && !songs_[r].cleared)
        row = static_cast<int>(r);
    }
    if (row != -1 &&
        (songs_[row].active || std::find(batch.begin(), batch.end(), row) != batch.end()))
      continue;  // already on its way
    if (row == -1) {
      row = AddRow(song, Folder().toStdString());
      songs_[row].entryId = nextEntryId_++;
    }
    batch.push_back(row);
  }
  StartBatch(std::move(batch));
}

void DownloadWindow::StartBatch(std::vector<int> rows) {
  // A batch downloads into one folder; a song resumed from an earlier run
  // goes where its .part is.
  std::map<std::string, std::vector<int>> byFolder;
  for (int row : rows)
    byFolder[songs_[row].folder].push_back(row);
  for (auto& [folder, folderRows] : byFolder)
    StartFolderBatch(folder, std::move(folderRows));
}

void DownloadWindow::StartFolderBatch(const std::string& folder, std::vector<int> rows) {
  std::vector<scrape::SongRecord> songs;
  for (int row : rows) {
    Row& song = songs_[row];
    song.active = true;
    song.finished = false;
    song.bar->setValue(0);
    song.item->setText(kSpeedColumn, QString());
    SetState(row, QString::fromUtf8("等待"));
    songs.push_back(song.song);
    Keep(song);
  }
  const download::DownloadOptions options = OptionsFor(folder);
  const BatchId id = nextBatch_++;
  Batch& batch = batches_[id];
  batch.rows = std::move(rows);
  batch.thread = std::jthread([this, id, songs = std::move(songs), options](std::stop_token stop) {
    WindowDownloads reporter(*this, id);
    try {
      download::DownloadSongs(songs, options, reporter, stop);
    } catch (...) {
      // Each song reports its own failure; nothing may leave a worker.
    }
    reporter.Post([id](DownloadWindow& window) { window.OnBatchEnded(id); });
  });
}

void DownloadWindow::StopAll() {
  for (auto& [id, batch] : batches_) {
    batch.stopped = true;
    batch.thread.request_stop();
  }
  // Every transfer aborts within its poll slice, all of them at once.
  for (auto& [id, batch] : batches_) {
    if (batch.thread.joinable())
      batch.thread.join();
    for (int row : batch.rows) {
      if (songs_[row].active) {
        songs_[row].active = false;
        songs_[row].item->setText(kSpeedColumn, QString());
        SetState(row, QString::fromUtf8("失败:已停止"));
      }
    }
  }
  batches_.clear();
}

std::vector<int> DownloadWindow::IdleRowsWhere(
    const std::function<bool(const QString&)>& state) const {
  std::vector<int> rows;
  for (std::size_t r = 0; r < songs_.size(); ++r) {
    if (!songs_[r].active && !songs_[r].cleared && state(songs_[r].item->text(kStateColumn)))
      rows.push_back(static_cast<int>(r));
  }
  return rows;
}

void DownloadWindow::RetryFailed() {
  StartBatch(IdleRowsWhere(
      [](const QString& state) { return state.startsWith(QString::fromUtf8("失败:")); }));
}

void DownloadWindow::ContinueStopped() {
  StartBatch(IdleRowsWhere([](const QString& state) {
    return state == QString::fromUtf8("已停止") || state == QString::fromUtf8("失败:已停止");
  }));
}

void DownloadWindow::ClearFinished() {
  for (Row& row : songs_) {
    if (row.active || row.cleared || !row.finished)
      continue;
    row.cleared = true;
    delete rows_->takeTopLevelItem(rows_->indexOfTopLevelItem(row.item));
    row.item = nullptr;
    row.bar = nullptr;
    if (store_ != nullptr)
      store_->RemoveDownload(row.entryId);
  }
}

void DownloadWindow::OpenFolder() {
  // Qt hands a local folder to xdg-open on Linux desktops; a music folder
  // that does not exist yet is made, as the first download would.
  QDir().mkpath(Folder());
  QDesktopServices::openUrl(QUrl::fromLocalFile(Folder()));
}

void DownloadWindow::ChooseFolder() {
  const QString chosen =
      QFileDialog::getExistingDirectory(this, QString::fromUtf8("保存到"), Folder());
  if (!chosen.isEmpty()) {
    SetFolder(chosen);
    emit FolderChosen(chosen);
  }
}

void DownloadWindow::SetState(int row, const QString& state) {
  songs_[row].item->setText(kStateColumn, state);
}

bool DownloadWindow::Reporting(BatchId batch) const {
  const auto found = batches_.find(batch);
  return found != batches_.end() && !found->second.stopped;
}

void DownloadWindow::OnStarted(BatchId batch, std::size_t index) {
  if (Reporting(batch))
    SetState(batches_.at(batch).rows[index], QString::fromUtf8("下载中"));
}

void DownloadWindow::OnProgress(BatchId batch, std::size_t index, std::uint64_t bytes,
                                std::uint64_t total, double speed) {
  if (!Reporting(batch))
    return;
  Row& row = songs_[batches_.at(batch).rows[index]];
  if (total > 0 && total != row.totalBytes) {
    row.totalBytes = total;
    Keep(row);
  }
  if (total > 0)
    row.bar->setValue(static_cast<int>(std::min<std::uint64_t>(100, bytes * 100 / total)));
  row.item->setText(kSpeedColumn, Speed(speed));
}

void DownloadWindow::OnDone(BatchId batch, std::size_t index,
                            const download::DownloadResult& result) {
  if (!Reporting(batch))
    return;
  const int rowIndex = batches_.at(batch).rows[index];
  Row& row = songs_[rowIndex];
  row.active = false;
  row.item->setText(kSpeedColumn, QString());
  switch (result.outcome) {
    case download::Outcome::kDownloaded:
      row.bar->setValue(100);
      SetState(rowIndex, QString::fromUtf8("已完成"));
      row.finished = true;
      break;
    case download::Outcome::kSkipped:
      row.bar->setValue(100);
      SetState(rowIndex, QString::fromUtf8("已存在"));
      row.finished = true;
      break;
    case download::Outcome::kFailed:
      SetState(rowIndex, QString::fromUtf8("失败:") + QString::fromStdString(result.error));
      break;
  }
  Keep(row);
}

void DownloadWindow::OnBatchEnded(BatchId batch) {
  const auto found = batches_.find(batch);
  if (found == batches_.end())
    return;
  found->second.thread.join();
  batches_.erase(found);
}

}  // namespace melo::ui
