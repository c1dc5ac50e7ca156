#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "Printers.h"
#include "core/store/ListStore.h"
#include "core/store/Schema.h"
#include "core/store/StoreOpening.h"

namespace melo::store {
namespace {

namespace fs = std::filesystem;
using scrape::SongRecord;

// Every row different, with GBK bytes, a quote and a NUL in it.
SongRecord Row(int n) {
  const std::string id = std::to_string(n);
  return {"\xC1\xD6" + id, std::string("title\0", 6) + id, "\"http://m/" + id + ".mp3\"",
          "http://s/" + id, "http://p/" + id};
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<SongRecord> Saved(const fs::path& file) {
  std::vector<SongRecord> songs;
  ReadSavedSongs(file, [&](SongRecord&& song) { songs.push_back(std::move(song)); });
  return songs;
}

// An opened store with the songs it handed over.
struct Opened : OpenedStore {
  std::vector<SongRecord> songs;
};

class ListStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(std::getenv("XDG_DATA_HOME")) /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = folder_ / "melodriftdown.sqlite3";
  }

  Opened Open() const { return OpenAt(file_); }
  static Opened OpenAt(const fs::path& file) {
    Opened opened;
    static_cast<OpenedStore&>(opened) =
        OpenListStore(file, [&](SongRecord&& song) { opened.songs.push_back(std::move(song)); });
    return opened;
  }

  // The file as a plain SQLite connection sees it.
  Database Raw() const {
    return OpenDatabase(file_.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  }

  // A new file of Row(0) to Row(rows - 1).
  void Fill(int rows) const {
    fs::remove(file_);
    Opened opened = Open();
    for (int i = 0; i < rows; ++i)
      opened.store->AppendSong(Row(i));
  }

  void WriteBytes(const std::string& bytes) const {
    std::ofstream(file_, std::ios::binary) << bytes;
  }

  fs::path folder_;
  fs::path file_;
};

TEST_F(ListStoreTest, TheDataFolderComesFromXdgDataHome) {
  EXPECT_EQ(DefaultStorePath(),
            fs::path(std::getenv("XDG_DATA_HOME")) / "melodriftdown" / "melodriftdown.sqlite3");
}

TEST_F(ListStoreTest, ChangesComeBackInListOrderAfterReopening) {
  // "+n" appends Row(n), "-i" deletes the row at i, "c" clears the list.
  const std::pair<std::string, std::vector<SongRecord>> cases[] = {
      {"+0 +1 +2", {Row(0), Row(1), Row(2)}},
      {"+0 +1 +2 -1 +3", {Row(0), Row(2), Row(3)}},  // a middle row
      {"+0 -5", {Row(0)}},                           // beyond the end
      {"+0 c +1", {Row(1)}},
  };
  for (const auto& [changes, expected] : cases) {
    SCOPED_TRACE(changes);
    fs::remove(file_);
    {
      Opened opened = Open();
      ASSERT_EQ(opened.state, StoreState::kSaving) << opened.problem;
      std::istringstream steps(changes);
      for (std::string step; steps >> step;) {
        if (step == "c")
          opened.store->ClearSongs();
        else if (step[0] == '+')
          opened.store->AppendSong(Row(std::stoi(step.substr(1))));
        else
          opened.store->DeleteSong(std::stoi(step.substr(1)));
      }
    }
    EXPECT_EQ(Open().songs, expected);
    EXPECT_EQ(Saved(file_), expected);
  }
}

TEST_F(ListStoreTest, DownloadEntriesAreReplacedAndRemovedById) {
  {
    Opened opened = Open();
    ListStore& store = *opened.store;
    store.PutDownload({1, Row(1), "/music", false, 0});
    store.PutDownload({2, Row(2), "/music", false, 0});
    store.PutDownload({3, Row(3), "/other", false, 0});
    store.PutDownload({1, Row(1), "/music", true, 4096});
    store.RemoveDownload(2);
  }
  const std::vector<DownloadEntry> expected{{1, Row(1), "/music", true, 4096},
                                            {3, Row(3), "/other", false, 0}};
  EXPECT_EQ(Open().downloads, expected);
}

TEST_F(ListStoreTest, AFileOfTheFirstVersionKeepsItsRowsAndGetsTheWholeSchema) {
  {
    const Database db = Raw();
    Execute(db.get(), std::string(Migrations().front().sql).c_str());
    Execute(db.get(), "PRAGMA user_version = 1");
    Execute(db.get(),
            "INSERT INTO songs VALUES (7, 'a', 'b', 'c', 'd', 'e'), (9, 'f', 'g', 'h', 'i', 'j')");
  }
  Opened opened = Open();
  ASSERT_EQ(opened.state, StoreState::kSaving) << opened.problem;
  EXPECT_EQ(opened.songs,
            (std::vector<SongRecord>{{"a", "b", "c", "d", "e"}, {"f", "g", "h", "i", "j"}}));
  opened.store->PutDownload({1, Row(1), "/music", false, 0});
  opened.store.reset();

  // Migrated step by step, the file holds what a new one is made with.
  const auto tables = [](sqlite3* db) {
    std::set<std::string> sql;
    const Statement rows = Prepare(db, "SELECT sql FROM sqlite_master ORDER BY name");
    while (Step(rows.get()))
      sql.insert(ColumnBytes(rows.get(), 0));
    return sql;
  };
  const Database migrated = Raw();
  const Database fresh = OpenDatabase(":memory:", SQLITE_OPEN_READWRITE);
  BringSchemaUpToDate(fresh.get());
  EXPECT_EQ(tables(migrated.get()), tables(fresh.get()));
  EXPECT_EQ(QueryInteger(migrated.get(), "PRAGMA user_version"), CurrentSchemaVersion());
  EXPECT_EQ(QueryInteger(migrated.get(), "SELECT count(*) FROM downloads"), 1);
}

TEST_F(ListStoreTest, AFileItCannotReadIsMovedAsideAndANewListStarts) {
  Fill(2000);  // a real store of many rows, to be cut short
  const std::string whole = Bytes(file_);
  ASSERT_GT(whole.size(), 8192u);

  const std::pair<const char*, std::function<void()>> cases[] = {
      {"garbage", [&] { WriteBytes(std::string(5000, 'x')); }},
      {"cut short", [&] { WriteBytes(whole.substr(0, whole.size() / 2)); }},
      {"newer schema",
       [&] {
         WriteBytes(whole);
         Execute(Raw().get(), "PRAGMA user_version = 99");
       }},
      {"another program's database",
       [&] {
         fs::remove(file_);
         Execute(Raw().get(), "CREATE TABLE mail (id INTEGER)");
       }},
  };
  const std::regex asideName(R"(melodriftdown\.sqlite3\.broken-\d{8}-\d{6}(-\d+)?)");
  for (const auto& [name, spoil] : cases) {
    SCOPED_TRACE(name);
    for (const auto& entry : fs::directory_iterator(folder_))
      fs::remove(entry.path());
    spoil();
    const std::string spoiled = Bytes(file_);
    Opened opened = Open();
    ASSERT_EQ(opened.state, StoreState::kSaving) << opened.problem;
    EXPECT_TRUE(opened.songs.empty());
    ASSERT_FALSE(opened.movedAside.empty());
    EXPECT_TRUE(std::regex_match(opened.movedAside.filename().string(), asideName))
        << opened.movedAside;
    EXPECT_TRUE(Bytes(opened.movedAside) == spoiled);
    opened.store->AppendSong(Row(1));
    opened.store.reset();
    EXPECT_EQ(Saved(file_), std::vector<SongRecord>{Row(1)});
  }
}

TEST_F(ListStoreTest, ASecondOpenerOnlyReadsTheList) {
  Opened first = Open();
  first.store->AppendSong(Row(1));
  first.store->Flush();
  const Opened second = Open();
  EXPECT_EQ(second.state, StoreState::kInUse);
  EXPECT_EQ(second.store, nullptr);
  EXPECT_EQ(second.songs, std::vector<SongRecord>{Row(1)});
  first.store.reset();
  EXPECT_EQ(Open().state, StoreState::kSaving);  // the lock goes with its store
}

// The window opens its store on a thread while it builds itself; the songs
// reach it in batches of a couple of thousand. An opening nobody finishes
// ends, whether or not its reader filled a batch, and lets go of the file.
TEST_F(ListStoreTest, AStoreOpenedOnAThreadHandsOverEverySongInOrder) {
  for (const int rows : {0, 1, 5000}) {
    SCOPED_TRACE(rows);
    Fill(rows);
    { const StoreOpening dropped(file_); }
    EXPECT_EQ(Open().state, StoreState::kSaving);
    std::vector<SongRecord> songs;
    StoreOpening opening(file_);
    const OpenedStore opened =
        opening.Finish([&](SongRecord&& song) { songs.push_back(std::move(song)); });
    EXPECT_EQ(opened.state, StoreState::kSaving) << opened.problem;
    EXPECT_NE(opened.store, nullptr);
    ASSERT_EQ(songs.size(), static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i)
      ASSERT_EQ(songs[i], Row(i)) << "row " << i;
  }
}

TEST_F(ListStoreTest, AFolderThatTakesNoFilesGivesAnUnsavedList) {
  std::ofstream(folder_ / "file") << "x";
  const Opened underAFile = OpenAt(folder_ / "file" / "melodriftdown.sqlite3");
  EXPECT_EQ(underAFile.state, StoreState::kUnwritable);
  EXPECT_FALSE(underAFile.problem.empty());

  if (geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only folders";
  }
  Open().store->AppendSong(Row(1));
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  const Opened readOnly = Open();
  fs::permissions(folder_, fs::perms::owner_all);
  EXPECT_EQ(readOnly.state, StoreState::kUnwritable);
  EXPECT_EQ(readOnly.store, nullptr);
}

TEST_F(ListStoreTest, AFullDiskIsReportedOnceAndNothingMoreIsWritten) {
  Open();  // makes the file
  Database db = Raw();
  // The file may grow no further: every write fails as on a full disk.
  Execute(db.get(), "PRAGMA max_page_count = 1");
  std::atomic<int> reports = 0;
  {
    ListStore store(std::move(db), *FileLock::TryLock(file_).second);
    store.OnWriteFailure([&](const std::string& why) {
      EXPECT_FALSE(why.empty());
      ++reports;
    });
    for (int i = 0; i < 3; ++i) {
      SongRecord big = Row(i);
      big.title.resize(64 * 1024, 'x');  // more than the free room in any page
      store.AppendSong(big);
      store.Flush();
    }
  }
  EXPECT_EQ(reports, 1);
  EXPECT_TRUE(Saved(file_).empty());
}

TEST_F(ListStoreTest, AKilledWriterLeavesAPrefixOfWholeRows) {
  constexpr int kRows = 200'000;
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a failing test leaves no writer behind
    Opened opened = Open();
    for (int i = 0; i < kRows; ++i)
      opened.store->AppendSong(Row(i));
    pause();  // killed while it writes, or here at the latest
    _exit(0);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::size_t seen = 0;
  while (seen < 1000 && std::chrono::steady_clock::now() < deadline) {
    try {
      seen = Saved(file_).size();
    } catch (const SqliteError&) {
      // the schema is still being made
    }
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_GE(seen, 1000u);

  Opened reopened = Open();
  ASSERT_EQ(reopened.state, StoreState::kSaving) << reopened.problem;
  EXPECT_TRUE(reopened.movedAside.empty());
  ASSERT_GE(reopened.songs.size(), seen);
  for (std::size_t i = 0; i < reopened.songs.size(); ++i) {
    ASSERT_EQ(reopened.songs[i], Row(static_cast<int>(i))) << "row " << i;
  }
}

}  // namespace
}  // namespace melo::store
