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
  auto* retry = new QPushButton(QString::fromUtf8("重试失败的"), this);
  connect(change, &QPushButton::clicked, this, &DownloadWindow::ChooseFolder);
  connect(open, &QPushButton::clicked, this, &DownloadWindow::OpenFolder);
  connect(stop, &QPushButton::clicked, this, &DownloadWindow::StopAll);
  connect(retry, &QPushButton::clicked, this, &DownloadWindow::RetryFailed);

  auto* folderLine = new QHBoxLayout;
  auto* folderLabel = new QLabel(QString::fromUtf8("保存到:"), this);
  folderLine->addWidget(folderLabel);
  folderLine->addWidget(folder_, 1);
  folderLine->addWidget(change);
  folderLine->addWidget(open);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(stop);
  buttons->addWidget(retry);
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

void DownloadWindow::Download(const std::vector<scrape::SongRecord>& songs) {
  std::vector<int> batch;
  for (const scrape::SongRecord& song : songs) {
    int row = -1;
    for (std::size_t r = 0; r < songs_.size(); ++r) {
      if (songs_[r].song == song)
        row = static_cast<int>(r);
    }
    if (row != -1 &&
        (songs_[row].active || std::find(batch.begin(), batch.end(), row) != batch.end()))
      continue;  // already on its way
    if (row == -1) {
      auto* item = new QTreeWidgetItem(rows_, {Gbk(song.singer), Gbk(song.title)});
      auto* bar = new QProgressBar;
      bar->setRange(0, 100);
      bar->setValue(0);
      rows_->setItemWidget(item, kProgressColumn, bar);
      row = static_cast<int>(songs_.size());
      songs_.push_back({song, item, bar});
    }
    batch.push_back(row);
  }
  StartBatch(std::move(batch));
}

void DownloadWindow::StartBatch(std::vector<int> rows) {
  if (rows.empty())
    return;
  std::vector<scrape::SongRecord> songs;
  for (int row : rows) {
    songs_[row].active = true;
    songs_[row].bar->setValue(0);
    songs_[row].item->setText(kSpeedColumn, QString());
    SetState(row, QString::fromUtf8("等待"));
    songs.push_back(songs_[row].song);
  }
  download::DownloadOptions options;
  options.folder = Folder().toStdString();
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

void DownloadWindow::RetryFailed() {
  std::vector<int> failed;
  for (std::size_t r = 0; r < songs_.size(); ++r) {
    if (!songs_[r].active &&
        songs_[r].item->text(kStateColumn).startsWith(QString::fromUtf8("失败:")))
      failed.push_back(static_cast<int>(r));
  }
  StartBatch(std::move(failed));
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
  if (!chosen.isEmpty())
    SetFolder(chosen);
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
  const Row& row = songs_[batches_.at(batch).rows[index]];
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
      break;
    case download::Outcome::kSkipped:
      row.bar->setValue(100);
      SetState(rowIndex, QString::fromUtf8("已存在"));
      break;
    case download::Outcome::kFailed:
      SetState(rowIndex, QString::fromUtf8("失败:") + QString::fromStdString(result.error));
      break;
  }
}

void DownloadWindow::OnBatchEnded(BatchId batch) {
  const auto found = batches_.find(batch);
  if (found == batches_.end())
    return;
  found->second.thread.join();
  batches_.erase(found);
}

}  // namespace melo::ui
