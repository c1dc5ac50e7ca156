// Opening the store: the lock first, then the file; a file that is not a
// store this program reads goes aside so that the window starts anyway.

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/store/ListStore.h"
#include "core/store/Schema.h"

namespace melo::store {
namespace {

// How long a reader or the writer waits for the other's lock on the file.
constexpr int kBusyMs = 5000;

void UseWriteAheadLog(sqlite3* db) {
  // WAL lets `melodrift list` read while the window writes; with it,
  // synchronous=NORMAL keeps every commit through a crash of the process
  // (a power cut may cost the last ones) without a sync per batch.
  const Statement mode = Prepare(db, "PRAGMA journal_mode=WAL");
  if (!Step(mode.get()) || ColumnBytes(mode.get(), 0) != "wal") {
    throw SqliteError(SQLITE_READONLY, "the file cannot take a write-ahead log");
  }
  Execute(db, "PRAGMA synchronous=NORMAL");
}

scrape::SongRecord SongAt(sqlite3_stmt* row, int first) {
  return {ColumnBytes(row, first), ColumnBytes(row, first + 1), ColumnBytes(row, first + 2),
          ColumnBytes(row, first + 3), ColumnBytes(row, first + 4)};
}

void ReadSongs(sqlite3* db, const SongSink& sink) {
  const Statement rows = Prepare(db,
                                 "SELECT singer, title, download_link, singer_link, song_link "
                                 "FROM songs ORDER BY position");
  while (Step(rows.get())) {
    sink(SongAt(rows.get(), 0));
  }
}

std::vector<DownloadEntry> ReadDownloads(sqlite3* db) {
  std::vector<DownloadEntry> entries;
  const Statement rows = Prepare(db,
                                 "SELECT id, singer, title, download_link, singer_link, "
                                 "song_link, folder, finished, total_bytes FROM downloads "
                                 "ORDER BY id");
  while (Step(rows.get())) {
    sqlite3_stmt* row = rows.get();
    entries.push_back({sqlite3_column_int64(row, 0), SongAt(row, 1), ColumnBytes(row, 6),
                       sqlite3_column_int(row, 7) != 0,
                       static_cast<std::uint64_t>(sqlite3_column_int64(row, 8))});
  }
  return entries;
}

bool IsDamage(int code) {
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_FORMAT;
}

// The file opened for writing and read whole, so that damage anywhere in it
// shows now rather than in the middle of a crawl.
OpenedStore OpenAndRead(const std::filesystem::path& file, const SongSink& sink, FileLock& lock) {
  Database db = OpenDatabase(file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (sqlite3_db_readonly(db.get(), "main") == 1) {
    throw SqliteError(SQLITE_READONLY, "the file is read-only");
  }
  sqlite3_busy_timeout(db.get(), kBusyMs);
  CheckedSchemaVersion(db.get());  // before anything changes a file of another program
  UseWriteAheadLog(db.get());
  BringSchemaUpToDate(db.get());
  OpenedStore opened;
  ReadSongs(db.get(), sink);
  opened.downloads = ReadDownloads(db.get());
  opened.state = StoreState::kSaving;
  opened.store = std::make_unique<ListStore>(std::move(db), std::move(lock));
  return opened;
}

// Shows what can be read, saves nothing.
void ReadOnly(const std::filesystem::path& file, const SongSink& sink) {
  try {
    ReadSavedSongs(file, sink);
  } catch (const std::exception&) {
    // what could not be read is not shown
  }
}

OpenedStore Unwritable(const std::filesystem::path& file, const SongSink& sink, std::string problem,
                       std::filesystem::path movedAside = {}) {
  OpenedStore opened;
  opened.state = StoreState::kUnwritable;
  opened.problem = std::move(problem);
  opened.movedAside = std::move(movedAside);
  if (opened.movedAside.empty()) {
    ReadOnly(file, sink);
  }
  return opened;
}

}  // namespace

OpenedStore OpenListStore(const std::filesystem::path& file, const SongSink& sink) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) {
    return Unwritable(file, sink, error.message());
  }
  auto [locked, lock] = FileLock::TryLock(file);
  if (locked == FileLock::Result::kHeldElsewhere) {
    OpenedStore opened;
    opened.state = StoreState::kInUse;
    ReadOnly(file, sink);
    return opened;
  }
  if (locked == FileLock::Result::kCannotLock) {
    return Unwritable(file, sink, std::strerror(errno));
  }
  std::filesystem::path movedAside;
  for (;;) {
    std::string damage;
    try {
      OpenedStore opened = OpenAndRead(file, sink, *lock);
      opened.movedAside = movedAside;
      return opened;
    } catch (const ForeignStore& foreign) {
      damage = foreign.what();
    } catch (const SqliteError& failure) {
      if (!IsDamage(failure.Code())) {
        return Unwritable(file, sink, failure.what(), movedAside);
      }
      damage = failure.what();
    }
    // Only the file that was there is moved; a new one that fails is not.
    if (!movedAside.empty()) {
      return Unwritable(file, sink, damage, movedAside);
    }
    movedAside = MoveAside(file);
    if (movedAside.empty()) {
      return Unwritable(file, sink, damage);
    }
  }
}

void ReadSavedSongs(const std::filesystem::path& file, const SongSink& sink) {
  if (!std::filesystem::exists(file)) {
    return;
  }
  const Database db = OpenDatabase(file.string(), SQLITE_OPEN_READONLY);
  sqlite3_busy_timeout(db.get(), kBusyMs);
  // One read transaction: a window making the schema meanwhile is seen
  // either before or after.
  Execute(db.get(), "BEGIN");
  if (CheckedSchemaVersion(db.get()) != 0) {
    ReadSongs(db.get(), sink);
  }  // the transaction ends with the connection
}

}  // namespace melo::store
