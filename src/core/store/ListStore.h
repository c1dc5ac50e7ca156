#pragma once
// The window's memory across runs: the song list and the download queue in
// one SQLite file. Opening reads what the last run left; a ListStore then
// takes every change on the caller's thread without waiting and writes it
// from a thread of its own, in one transaction per batch of what has come
// in meanwhile. The changes all come from one thread (the window's).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/scrape/SongRecord.h"
#include "core/store/SqliteHandles.h"
#include "core/store/StoreFile.h"

namespace melo::store {

// One song handed to the download window.
struct DownloadEntry {
  std::int64_t id = 0;  // also the queue's order
  scrape::SongRecord song;
  std::string folder;  // UTF-8; where its file (or .part) goes
  bool finished = false;
  std::uint64_t totalBytes = 0;  // 0 while unknown

  bool operator==(const DownloadEntry&) const = default;
};

class ListStore {
 public:
  // Takes over an open, up-to-date database and the lock that makes this
  // process its only writer.
  ListStore(Database db, FileLock lock);
  ~ListStore();  // writes what is still queued
  ListStore(const ListStore&) = delete;
  ListStore& operator=(const ListStore&) = delete;

  // Called once, on the writer thread, when a write fails (disk full,
  // file gone read-only); nothing more is written after it. UTF-8.
  void OnWriteFailure(std::function<void(const std::string&)> report);

  // Gathers the song on the caller's side; the gathered songs go to the
  // writer every few hundred rows, with the next other change, or at
  // HandOverSongs, which the caller runs soon after (on its next turn).
  void AppendSong(const scrape::SongRecord& song);
  void HandOverSongs();
  void DeleteSong(int row);  // by its index in list order
  void ClearSongs();
  // Adds or replaces the entry with the same id.
  void PutDownload(DownloadEntry entry);
  void RemoveDownload(std::int64_t id);

  // Waits until everything handed over so far is written (or has failed).
  void Flush();

 private:
  // Songs' five texts back to back and where each text ends: a crawl's
  // stream of rows costs the caller's thread no lock, allocation or wake-up
  // of its own.
  struct SongBatch {
    std::string bytes;
    std::vector<std::uint32_t> ends;  // kSongTexts a song
    std::size_t Songs() const { return ends.size() / kSongTexts; }
  };
  static constexpr std::size_t kSongTexts = 5;
  struct DeleteSongOp {
    int row;
  };
  struct ClearSongsOp {};
  struct RemoveDownloadOp {
    std::int64_t id;
  };
  using Op = std::variant<SongBatch, DeleteSongOp, ClearSongsOp, DownloadEntry, RemoveDownloadOp>;
  class Writer;

  void Queue(Op op);
  void QueueGathered();
  void TakeBatch(std::vector<Op>& batch);  // with mutex_ held
  void Run(std::stop_token stop);

  FileLock lock_;
  std::unique_ptr<Writer> writer_;
  SongBatch gathered_;  // the caller's thread's own
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable_any written_;
  std::deque<Op> pending_;  // a deque: a long queue grows without moving what it holds
  std::uint64_t queuedCount_ = 0;
  std::uint64_t writtenCount_ = 0;
  std::uint64_t awaited_ = 0;  // what Flush waits to see written
  bool writerWaits_ = false;   // for a change, not in its pause after a write
  std::function<void(const std::string&)> reportFailure_;
  std::jthread thread_;  // last: it starts once everything above exists
};

// What opening the store found.
enum class StoreState {
  kSaving,      // this process writes the list
  kInUse,       // another window writes it; this one only shows it
  kUnwritable,  // the folder or the disk takes no writes; nothing is saved
};

struct OpenedStore {
  StoreState state = StoreState::kUnwritable;
  std::unique_ptr<ListStore> store;  // set when saving
  std::vector<DownloadEntry> downloads;
  // Where a damaged or foreign file was moved; empty when none was.
  std::filesystem::path movedAside;
  std::string problem;  // UTF-8, why the list is not saved
};

// Takes the saved songs one by one in list order, so that a long list is
// never held twice.
using SongSink = std::function<void(scrape::SongRecord&&)>;

// Opens (or makes) the store at `file` and hands its songs to `sink`. A file
// that is not a store this program reads is moved aside and a new one made
// (what `sink` got from it before the damage showed is then void); a folder
// or disk that takes no writes gives kUnwritable with what could be read.
OpenedStore OpenListStore(const std::filesystem::path& file, const SongSink& sink);

// The saved song list, read only, safe while a window writes the file.
// Nothing saved: no song. Throws SqliteError or ForeignStore.
void ReadSavedSongs(const std::filesystem::path& file, const SongSink& sink);

}  // namespace melo::store
