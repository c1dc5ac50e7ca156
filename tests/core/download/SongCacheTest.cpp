// The player's cache: the stretches a cache file holds, how long MP3 frames
// last, trimming, and songs fetched into it from servers as they are.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <future>

#include "Printers.h"
#include "SongFiles.h"
#include "core/download/ByteRanges.h"
#include "core/download/CachedSong.h"
#include "core/download/FileDescriptor.h"
#include "core/download/Mp3Frames.h"
#include "core/download/SongCache.h"

namespace melo::download {
namespace {

using namespace testing;
using Start = CachedSong::Start;

TEST(ByteRangesTest, JoinsStretchesAndFindsGaps) {
  ByteRanges held;
  held.Add(10, 20);
  held.Add(30, 40);
  held.Add(20, 25);  // touches the first
  held.Add(35, 50);  // overlaps the second
  held.Add(5, 5);    // empty
  EXPECT_EQ(held.HeldUntil(10), 25u);
  EXPECT_EQ(held.HeldUntil(26), 26u);
  EXPECT_EQ(held.HeldUntil(30), 50u);
  EXPECT_EQ(held.FirstGap(0, 60), 0u);
  EXPECT_EQ(held.FirstGap(12, 60), 25u);
  EXPECT_EQ(held.FirstGap(30, 50), std::nullopt);
  EXPECT_EQ(held.NextHeld(26), 30u);
  EXPECT_EQ(held.HeldBytes(), 35u);
  held.Add(0, 60);
  EXPECT_EQ(held.FirstGap(0, 60), std::nullopt);
  EXPECT_EQ(held.HeldBytes(), 60u);
}

TEST(Mp3PlayingMsTest, CountsTheFramesBehindATagAndPassesOverTheRest) {
  // 120 frames of 1152 samples at 44.1 kHz.
  const std::string tag("ID3\x03\x00\x00\x00\x00\x00\x05xxxxx", 15);
  EXPECT_EQ(Mp3PlayingMs(Mp3Body(120)), 3134);
  EXPECT_EQ(Mp3PlayingMs(tag + Mp3Body(120) + "TAG trailing"), 3134);
  EXPECT_EQ(Mp3PlayingMs("<html>not a song</html>"), std::nullopt);
  // The length an ID3v2.3 tag names in its TLEN frame.
  const std::string tlen3(
      "ID3\x03\x00\x00\x00\x00\x00\x20TLEN\x00\x00\x00\x07\x00\x00\x00"
      "245678",
      27);
  EXPECT_EQ(Id3LengthMs(tlen3 + std::string(42 - 27, '\0')), 245'678);
  EXPECT_EQ(Id3LengthMs(tag + Mp3Body(2)), std::nullopt);
  EXPECT_EQ(Id3LengthMs(tlen3.substr(0, 20)), std::nullopt) << "cut short";
  // A real encoder's file: its length header frame counts as one frame more.
  const auto bundled = Mp3PlayingMs(net::testing::SongBytes(net::testing::kSongFile, false));
  ASSERT_TRUE(bundled);
  EXPECT_NEAR(*bundled, net::testing::kSongLengthMs, 60);
}

// The cache folder is the profile's, which all cases of this program share
// when they run in one process: each case that uses it starts without it.
class SongCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::remove_all(SongCacheFolder()); }
};
template <typename Row>
class SongCacheParamTest : public SongCacheTest, public ::testing::WithParamInterface<Row> {};

TEST_F(SongCacheTest, TrimsTheOldestFirstButNeverAFileSomeoneHolds) {
  const fs::path folder = SongCacheFolder();
  fs::create_directories(folder);
  const auto now = fs::file_time_type::clock::now();
  const char* names[] = {"oldest.mp3", "older.mp3", "newest.mp3"};
  for (int i = 0; i < 3; ++i) {
    WriteFile(folder / names[i], std::string(100, 'x'));
    fs::last_write_time(folder / names[i], now - std::chrono::hours(3 - i));
  }
  const FileDescriptor playing(open((folder / names[0]).c_str(), O_RDONLY));
  ASSERT_EQ(flock(playing.get(), LOCK_SH), 0);
  TrimSongCache(250);
  EXPECT_TRUE(fs::exists(folder / names[0])) << "held by a player";
  EXPECT_FALSE(fs::exists(folder / names[1]));
  EXPECT_TRUE(fs::exists(folder / names[2])) << "the cache fits without removing it";
}

DownloadOptions QuickRules() {
  DownloadOptions rules;
  rules.stall = std::chrono::seconds(2);
  rules.retries = 1;
  rules.retryPause = std::chrono::milliseconds(10);
  return rules;
}

// Everything from `offset` to the end, as a player reads it.
std::string ReadFrom(CachedSong& song, std::uint64_t offset) {
  std::string bytes, piece(4096, '\0');
  while (const std::size_t got = song.Read(offset + bytes.size(), piece.data(), piece.size()))
    bytes.append(piece, 0, got);
  return bytes;
}

struct FetchRow {
  const char* name;
  Serving serving;
  friend void PrintTo(const FetchRow& c, std::ostream* os) { *os << c.name; }
};

class CachedSongTest : public SongCacheParamTest<FetchRow> {};

// Read from the end first, then from the start: the song is fetched whole,
// each byte written once, and kept as the cache's whole copy.
TEST_P(CachedSongTest, HoldsTheWholeSongWrittenOnce) {
  SongServer server(GetParam().serving);
  server.LetBreak();
  const std::string expected = net::testing::SongBytes(net::testing::kSongFile, false);
  std::optional<std::string> whole;
  {
    CachedSong song(server.Address(), QuickRules());
    ASSERT_EQ(song.AwaitStart({}, std::chrono::steady_clock::now() + std::chrono::seconds(20)),
              Start::kReady)
        << song.Failure();
    EXPECT_EQ(ReadFrom(song, expected.size() - 1000), expected.substr(expected.size() - 1000));
    EXPECT_EQ(ReadFrom(song, 0), expected) << song.Failure();
    EXPECT_EQ(song.TotalBytes(), expected.size());
    ASSERT_TRUE(song.Failure().empty()) << song.Failure();
    while (!song.Whole())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(song.WrittenBytes(), expected.size());
  }
  const auto path = WholeCachedSong(server.Address());
  ASSERT_TRUE(path);
  EXPECT_EQ(ReadFile(*path), expected);
  const auto requests = server.Requests().size();
  CachedSong again(server.Address(), QuickRules());
  EXPECT_EQ(ReadFrom(again, 0), expected);
  EXPECT_EQ(server.Requests().size(), requests) << "played again from the cache";
}

INSTANTIATE_TEST_SUITE_P(
    Servers, CachedSongTest,
    ::testing::Values(
        FetchRow{"WithRange", {}}, FetchRow{"WithoutRange", {.ranges = false}},
        FetchRow{"Chunked", {.ranges = false, .chunked = true}},
        FetchRow{"ChunkedWithRange", {.chunked = true}}, FetchRow{"Redirect", {.redirect = true}},
        FetchRow{"DropWithRange", {.breaks = Serving::Break::kDropHalfWay}},
        FetchRow{"DropWithoutRange", {.ranges = false, .breaks = Serving::Break::kDropHalfWay}},
        FetchRow{"ResetWithoutRange", {.ranges = false, .breaks = Serving::Break::kResetHalfWay}}),
    printing::CaseName());

TEST_F(SongCacheTest, ARangeServerIsAskedFromWhereAReadWaitsBeyondTheRunningTransfer) {
  const std::string longSong = Mp3Body(400);  // 167 kB: far beyond what a transfer brings soon
  SongServer server({.breaks = Serving::Break::kHoldHalfWay}, longSong);
  CachedSong song(server.Address(), QuickRules());
  ASSERT_EQ(song.AwaitStart({}, std::chrono::steady_clock::now() + std::chrono::seconds(20)),
            Start::kReady);
  const std::uint64_t nearEnd = longSong.size() - 5000;
  EXPECT_EQ(ReadFrom(song, nearEnd), longSong.substr(nearEnd));  // while the first one holds
  ASSERT_GE(server.Requests().size(), 2u);
  EXPECT_NE(server.Requests()[1].find("Range: bytes=" + std::to_string(nearEnd) + "-"),
            std::string::npos)
      << server.Requests()[1];
  server.LetBreak();
  EXPECT_EQ(ReadFrom(song, 0), longSong);
}

TEST_F(SongCacheTest, PlaysWhenTheCacheFolderCannotBeWritten) {
  WriteFile(SongCacheFolder(), "a file where the folder goes");
  SongServer server;
  const std::string expected = net::testing::SongBytes(net::testing::kSongFile, false);
  {
    CachedSong song(server.Address(), QuickRules());
    EXPECT_EQ(ReadFrom(song, 0), expected) << song.Failure();
  }
  EXPECT_FALSE(WholeCachedSong(server.Address()));
}

struct FailureRow {
  const char* name;
  Serving serving;
  std::string says;
  std::uint64_t capBytes = kSongCacheBytes;
  friend void PrintTo(const FailureRow& c, std::ostream* os) { *os << c.name; }
};

class CachedSongFailureTest : public SongCacheParamTest<FailureRow> {};

TEST_P(CachedSongFailureTest, SaysWhyAndLeavesNoFile) {
  const FailureRow& row = GetParam();
  SongServer server(row.serving);
  {
    CachedSong song(server.Address(), QuickRules(), row.capBytes);
    song.AwaitStart({}, std::chrono::steady_clock::now() + std::chrono::seconds(30));
    ReadFrom(song, 0);  // ends where the song breaks off
    EXPECT_NE(song.Failure().find(row.says), std::string::npos) << song.Failure();
  }
  EXPECT_TRUE(fs::is_empty(SongCacheFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, CachedSongFailureTest,
    ::testing::Values(
        FailureRow{"NotFound", {.htmlStatus = "404 Not Found"}, "HTTP 404"},
        FailureRow{"HtmlPage", {.htmlStatus = "200 OK"}, "not audio"},
        FailureRow{"Stall", {.breaks = Serving::Break::kStallHalfWay}, "stopped sending"},
        FailureRow{"LargerThanTheCache", {.chunked = true}, "larger than the cache", 1000}),
    printing::CaseName());

}  // namespace
}  // namespace melo::download
