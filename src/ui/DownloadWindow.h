#pragma once
// The modeless download window ("下载"): a row per song with its progress
// and state, the target folder, and stop / retry. Each batch of songs runs
// on a std::jthread of its own; its reports reach the window through queued
// invocations, and those of a stopped batch are dropped on arrival.

#include <QDialog>
#include <cstdint>
#include <map>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/download/Download.h"
#include "core/scrape/SongRecord.h"

class QLineEdit;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace melo::ui {

class DownloadWindow : public QDialog {
  Q_OBJECT

 public:
  explicit DownloadWindow(QWidget* parent);
  ~DownloadWindow() override;  // stops every download at once

  // Adds the songs (rows already there are started again unless running)
  // and starts downloading them.
  void Download(const std::vector<scrape::SongRecord>& songs);
  void SetFolder(const QString& folder);
  QString Folder() const;
  // Stops every download at once and joins its thread; .part files stay.
  void StopAll();
  void RetryFailed();
  void OpenFolder();

  QTreeWidget& Rows() const { return *rows_; }
  // Whether any batch is still running.
  bool Busy() const { return !batches_.empty(); }

 private:
  using BatchId = std::uint64_t;
  struct Row {
    scrape::SongRecord song;
    QTreeWidgetItem* item;
    QProgressBar* bar;
    bool active = false;
  };
  struct Batch {
    std::vector<int> rows;  // the batch's songs in order, as rows
    bool stopped = false;
    std::jthread thread;
  };

  void StartBatch(std::vector<int> rows);
  void ChooseFolder();
  void SetState(int row, const QString& state);
  bool Reporting(BatchId batch) const;

  // Called on the window's thread by the batches' reporters.
  void OnStarted(BatchId batch, std::size_t index);
  void OnProgress(BatchId batch, std::size_t index, std::uint64_t bytes, std::uint64_t total,
                  double speed);
  void OnDone(BatchId batch, std::size_t index, const download::DownloadResult& result);
  void OnBatchEnded(BatchId batch);
  friend class WindowDownloads;

  QTreeWidget* rows_ = nullptr;
  QLineEdit* folder_ = nullptr;
  std::vector<Row> songs_;
  std::map<BatchId, Batch> batches_;
  BatchId nextBatch_ = 1;
};

}  // namespace melo::ui
