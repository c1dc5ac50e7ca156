#pragma once
// The modeless download window ("下载"): a row per song with its progress
// and state, the target folder, and stop / retry. Each batch of songs runs
// on a std::jthread of its own; its reports reach the window through queued
// invocations, and those of a stopped batch are dropped on arrival.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/download/Download.h"
#include "core/scrape/SongRecord.h"
#include "ui/AppSettings.h"

namespace melo::store {
class ListStore;
struct DownloadEntry;
}  // namespace melo::store

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
  // The choices every batch started from now on downloads with; an empty
  // folder keeps the one shown.
  void SetChoices(const DownloadChoices& choices);
  // Every song handed over from now on, and its state, is kept in `store`;
  // null: nothing more is kept.
  void KeepIn(store::ListStore* store);
  // The queue of the last run: finished songs as such, the rest stopped
  // with what their .part files hold.
  void Restore(const std::vector<store::DownloadEntry>& entries);
  // Stops every download at once and joins its thread; .part files stay.
  void StopAll();
  void RetryFailed();
  // Starts the stopped songs again, from their .part files.
  void ContinueStopped();
  // Takes the finished songs off the list.
  void ClearFinished();
  void OpenFolder();

 signals:
  // The user chose another folder with "更改...".
  void FolderChosen(const QString& folder);

 public:
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
    std::int64_t entryId = 0;
    std::string folder;  // UTF-8, where its file goes
    bool finished = false;
    std::uint64_t totalBytes = 0;
    bool cleared = false;  // taken off the list; its index stays for the batches
  };
  struct Batch {
    std::vector<int> rows;  // the batch's songs in order, as rows
    bool stopped = false;
    std::jthread thread;
  };

  int AddRow(const scrape::SongRecord& song, const std::string& folder);
  void Keep(const Row& row);
  download::DownloadOptions OptionsFor(const std::string& folder) const;
  void StartBatch(std::vector<int> rows);
  void StartFolderBatch(const std::string& folder, std::vector<int> rows);
  // Rows neither running nor cleared whose state text `state` accepts.
  std::vector<int> IdleRowsWhere(const std::function<bool(const QString&)>& state) const;
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
  DownloadChoices choices_;
  store::ListStore* store_ = nullptr;
  std::int64_t nextEntryId_ = 1;
};

}  // namespace melo::ui
