#include "core/store/ListStore.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace melo::store {
namespace {

constexpr std::size_t kMostPerBatch = 2000;  // rows a transaction
constexpr std::size_t kMostGathered = 256;   // rows before they go to the writer
// Short against the 100 ms a crash may lose, long against a row's arrival.
constexpr std::chrono::milliseconds kPauseAfterWrite{20};

}  // namespace

// The writer thread's side: its statements, made once, and the next
// position a song gets.
class ListStore::Writer {
 public:
  explicit Writer(Database db) : db_(std::move(db)) {
    append_ = Prepare(db_.get(),
                      "INSERT INTO songs (position, singer, title, download_link, singer_link, "
                      "song_link) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    delete_ = Prepare(db_.get(),
                      "DELETE FROM songs WHERE position = "
                      "(SELECT position FROM songs ORDER BY position LIMIT 1 OFFSET ?1)");
    clear_ = Prepare(db_.get(), "DELETE FROM songs");
    putDownload_ = Prepare(db_.get(),
                           "INSERT OR REPLACE INTO downloads (id, singer, title, download_link, "
                           "singer_link, song_link, folder, finished, total_bytes) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    removeDownload_ = Prepare(db_.get(), "DELETE FROM downloads WHERE id = ?1");
    nextPosition_ = QueryInteger(db_.get(), "SELECT coalesce(max(position), 0) + 1 FROM songs");
  }

  // One transaction: the batch lands whole or not at all.
  void Write(const std::vector<Op>& batch) {
    Execute(db_.get(), "BEGIN IMMEDIATE");
    try {
      for (const Op& op : batch) {
        std::visit([this](const auto& change) { Apply(change); }, op);
      }
      Execute(db_.get(), "COMMIT");
    } catch (...) {
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

 private:
  static void Run(const Statement& statement) {
    Step(statement.get());
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
  }

  static void BindSong(sqlite3_stmt* statement, int first, const scrape::SongRecord& song) {
    BindBytes(statement, first, song.singer);
    BindBytes(statement, first + 1, song.title);
    BindBytes(statement, first + 2, song.downloadLink);
    BindBytes(statement, first + 3, song.singerLink);
    BindBytes(statement, first + 4, song.songLink);
  }

  void Apply(const SongBatch& songs) {
    std::uint32_t start = 0;
    for (std::size_t field = 0; field < songs.ends.size(); ++field) {
      const std::size_t text = field % kSongTexts;
      if (text == 0) {
        BindInteger(append_.get(), 1, nextPosition_++);
      }
      const std::uint32_t end = songs.ends[field];
      BindBytes(append_.get(), static_cast<int>(text) + 2,
                std::string_view(songs.bytes).substr(start, end - start));
      start = end;
      if (text == kSongTexts - 1) {
        Run(append_);
      }
    }
  }
  void Apply(const DeleteSongOp& op) {
    BindInteger(delete_.get(), 1, op.row);
    Run(delete_);
  }
  void Apply(const ClearSongsOp&) { Run(clear_); }
  void Apply(const DownloadEntry& entry) {
    sqlite3_stmt* put = putDownload_.get();
    BindInteger(put, 1, entry.id);
    BindSong(put, 2, entry.song);
    BindBytes(put, 7, entry.folder);
    BindInteger(put, 8, entry.finished ? 1 : 0);
    BindInteger(put, 9, static_cast<std::int64_t>(entry.totalBytes));
    Run(putDownload_);
  }
  void Apply(const RemoveDownloadOp& op) {
    BindInteger(removeDownload_.get(), 1, op.id);
    Run(removeDownload_);
  }

  // Statements before the database: they are finalized first.
  Database db_;
  Statement append_, delete_, clear_, putDownload_, removeDownload_;
  std::int64_t nextPosition_ = 1;
};

ListStore::ListStore(Database db, FileLock lock)
    : lock_(std::move(lock)),
      writer_(std::make_unique<Writer>(std::move(db))),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

ListStore::~ListStore() {
  HandOverSongs();
  thread_.request_stop();
  thread_.join();  // writes what is still queued first
}

void ListStore::OnWriteFailure(std::function<void(const std::string&)> report) {
  std::lock_guard lock(mutex_);
  reportFailure_ = std::move(report);
}

void ListStore::AppendSong(const scrape::SongRecord& song) {
  for (const std::string* text :
       {&song.singer, &song.title, &song.downloadLink, &song.singerLink, &song.songLink}) {
    gathered_.bytes += *text;
    gathered_.ends.push_back(static_cast<std::uint32_t>(gathered_.bytes.size()));
  }
  if (gathered_.Songs() >= kMostGathered) {
    QueueGathered();
  }
}
void ListStore::HandOverSongs() {
  if (!gathered_.ends.empty()) {
    QueueGathered();
  }
}
void ListStore::DeleteSong(int row) {
  Queue(DeleteSongOp{row});
}
void ListStore::ClearSongs() {
  Queue(ClearSongsOp{});
}
void ListStore::PutDownload(DownloadEntry entry) {
  Queue(std::move(entry));
}
void ListStore::RemoveDownload(std::int64_t id) {
  Queue(RemoveDownloadOp{id});
}

// The next batch starts with room for as much as the last one held.
void ListStore::QueueGathered() {
  const std::size_t bytes = gathered_.bytes.size();
  const std::size_t ends = gathered_.ends.size();
  Queue(std::exchange(gathered_, {}));
  gathered_.bytes.reserve(bytes);
  gathered_.ends.reserve(ends);
}

void ListStore::Queue(Op op) {
  if (!std::holds_alternative<SongBatch>(op)) {
    HandOverSongs();  // what was appended before goes first
  }
  bool writerWaits = false;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(op));
    ++queuedCount_;
    writerWaits = std::exchange(writerWaits_, false);
  }
  if (writerWaits) {
    wake_.notify_one();
  }
}

void ListStore::Flush() {
  HandOverSongs();
  std::unique_lock lock(mutex_);
  const std::uint64_t target = queuedCount_;
  awaited_ = std::max(awaited_, target);
  wake_.notify_one();  // now, not after the writer's pause
  written_.wait(lock, [&] { return writtenCount_ >= target; });
}

// Whatever has come in while the last batch was written is the next batch,
// up to a number of rows that writes in a few milliseconds: a crash loses at
// most the batch being written and what waits behind it.
void ListStore::TakeBatch(std::vector<Op>& batch) {
  auto end = pending_.begin();
  for (std::size_t rows = 0; end != pending_.end() && rows < kMostPerBatch; ++end) {
    const auto* songs = std::get_if<SongBatch>(&*end);
    rows += songs != nullptr ? songs->Songs() : 1;
  }
  batch.assign(std::make_move_iterator(pending_.begin()), std::make_move_iterator(end));
  pending_.erase(pending_.begin(), end);
}

void ListStore::Run(std::stop_token stop) {
  std::vector<Op> batch;
  bool failed = false;
  bool caughtUp = false;  // the last batch took all there was
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (caughtUp) {
        // A crawl's stream of rows gathers meanwhile into the next batch,
        // and the window's thread hands it over without waking anyone.
        wake_.wait_for(lock, stop, kPauseAfterWrite, [&] { return awaited_ > writtenCount_; });
      }
      if (pending_.empty()) {
        writerWaits_ = true;
        wake_.wait(lock, stop, [&] { return !pending_.empty(); });
        writerWaits_ = false;
        if (pending_.empty()) {
          return;  // stopped, and everything written
        }
      }
      TakeBatch(batch);
      caughtUp = pending_.empty();
    }
    std::string failure;
    if (!failed) {
      try {
        writer_->Write(batch);
      } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
      }
    }
    std::function<void(const std::string&)> report;
    {
      std::lock_guard lock(mutex_);
      writtenCount_ += batch.size();
      if (!failure.empty()) {
        report = reportFailure_;
      }
    }
    written_.notify_all();
    batch.clear();
    if (report) {
      report(failure);
    }
  }
}

}  // namespace melo::store
