// The playback worker with the real device against servers as they are in
// the wild, each served by the test's own loopback server: what the worker
// must report for each; and the device's open, cut short.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <utility>

#include "PlaybackTestSupport.h"
#include "core/download/SongFiles.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackTimes.h"
#include "playback/PlaybackWorker.h"

namespace melo::playback {
namespace {

using net::testing::kSongLengthMs;
using net::testing::Serving;
using enum WorkerEnding;
constexpr auto kDrop = Serving::Break::kDropHalfWay;

struct ServerRow {
  const char* name;
  Serving serving;
  WorkerEnding ending = kSongEnded;
  std::string failure = "";  // what the failure text holds
  std::int64_t startMs = 0;
  std::string address = "";  // other than the server's
  bool pauses = false;       // for two seconds, once the song plays
  friend void PrintTo(const ServerRow& c, std::ostream* os) { *os << c.name; }
};

class ServerPlaybackTest : public ::testing::TestWithParam<ServerRow> {
 protected:
  // The polling goes on through the pause, and the position stays. What is
  // held is the position two whole cycles read from the device and agree on
  // (a cycle whose query fails leaves the last position standing, which is
  // no sign that it stays).
  static void PauseForTwoSeconds(PlaybackWords& words, const RecordingView& view) {
    const auto shown = [&](const std::string& control, std::string_view value) {
      return WaitUntil([&] { return view.Last(control) == value; });
    };
    ASSERT_TRUE(shown("elapsed", "0:01"));
    words.paused = true;
    ASSERT_TRUE(shown("state", texts::kPaused));
    // The position read by a cycle begun after this call.
    const auto nextCyclePosition = [&] {
      const std::size_t cycles = view.Calls("state");
      const std::size_t reads = view.Calls("elapsed");
      EXPECT_TRUE(WaitUntil([&] {
        return view.Calls("state") >= cycles + 2 && view.Calls("elapsed") >= reads + 2;
      })) << "the worker stopped reading the position";
      return std::int64_t{words.positionMs};
    };
    std::int64_t heldAt = nextCyclePosition();
    ASSERT_TRUE(WaitUntil([&] {
      const std::int64_t before = std::exchange(heldAt, nextCyclePosition());
      return heldAt == before;
    })) << "the position never stopped while paused";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ASSERT_NEAR(words.positionMs, heldAt, 50);
      ASSERT_EQ(view.Last("state"), texts::kPaused);
    }
    words.paused = false;
    ASSERT_TRUE(shown("state", texts::kPlaying));
  }
};

TEST_P(ServerPlaybackTest, WorkerReports) {
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  const ServerRow& row = GetParam();
  net::testing::SongServer server(row.serving);
  PlaybackWords words;
  words.seekTargetMs = row.startMs;
  auto owned = std::make_unique<RecordingView>();
  const RecordingView& view = *owned;
  // A short stall limit and one retry, so a stalled server fails soon.
  const auto device = [](std::stop_token stop) {
    return MakeGstMediaDevice(std::move(stop),
                              {.stallLimit = std::chrono::seconds(2), .transferRetries = 1});
  };
  PlaybackWorker worker(row.address.empty() ? server.Address() : row.address, words,
                        std::move(owned), device);
  if (row.pauses) {
    PauseForTwoSeconds(words, view);
    if (HasFatalFailure()) {
      return;  // the worker, maybe still paused, is stopped on the way out
    }
  }
  // Once the song plays, a connection that is to break may.
  ASSERT_TRUE(WaitUntil([&] {
    if (!view.Last("elapsed").empty()) {
      server.LetBreak();
    }
    return worker.WaitForEnd(std::chrono::milliseconds(20));
  })) << "the song never ended";

  EXPECT_EQ(worker.Ending(), row.ending);
  EXPECT_NE(worker.Failure().find(row.failure), std::string::npos) << worker.Failure();
  EXPECT_EQ(worker.Failure().empty(), row.ending == kSongEnded) << worker.Failure();
  if (row.ending == kSongEnded) {
    EXPECT_EQ(view.Last("state"), "播放中");
    // The total appears once the stream knows it, the elapsed time and the
    // slider go to the end, having started where asked on every server.
    EXPECT_EQ(view.Last("total"), TotalText(kSongLengthMs));
    EXPECT_EQ(view.Last("elapsed"), ElapsedText(kSongLengthMs));
    EXPECT_GE(std::atoi(view.Last("slider").c_str()), 900);
    EXPECT_EQ(view.Values("elapsed").at(0), ElapsedText(row.startMs));
    EXPECT_EQ(view.Last("slider-enabled"), "1");
    EXPECT_EQ(view.Last("stop-enabled"), "1");
    // A song is fetched once: no second request where nothing broke.
    if (!row.serving.ranges && row.serving.breaks == Serving::Break::kNone) {
      EXPECT_EQ(server.Requests().size(), 1u);
    }
  } else if (row.ending == kFailed) {
    // Broken off in the middle: said so (the controls that go with it: the
    // controller's stop), not taken for the end.
    EXPECT_EQ(view.Last("state"), "已停止");
    EXPECT_NE(view.Last("elapsed"), "");
    EXPECT_LT(words.lengthMs - 1000, kSongLengthMs);
  } else {
    EXPECT_EQ(view.Last("state"), "正在缓冲...");
    EXPECT_EQ(view.Last("elapsed"), "");
  }
}

// The first six: the plain kinds of server, which the seek cases run against too.
const ServerRow kRows[] = {
    {"WithRange", {}},
    {"WithoutRange", {.ranges = false}},
    {"ChunkedWithRange", {.chunked = true}},
    {"ChunkedWithoutRange", {.ranges = false, .chunked = true}},
    {"RedirectToWithRange", {.redirect = true}},
    {"RedirectToWithoutRange", {.ranges = false, .redirect = true}},
    {"WithRangeStartingLater", {}, kSongEnded, "", 1500},
    {"WithoutRangeStartingLater", {.ranges = false}, kSongEnded, "", 1500},
    {"WithRangePausedTwoSeconds", {}, kSongEnded, "", 0, "", true},
    {"WithoutRangePausedTwoSeconds", {.ranges = false}, kSongEnded, "", 0, "", true},
    {"ChunkedPausedTwoSeconds", {.ranges = false, .chunked = true}, kSongEnded, "", 0, "", true},
    {"NoLengthHeader", {.ranges = false, .noLengthHeader = true}},
    {"NoLengthHeaderChunked", {.ranges = false, .chunked = true, .noLengthHeader = true}},
    {"DropWithRangeResumes", {.breaks = kDrop}},
    // Without Range the song is asked for again and read on past what is held.
    {"DropWithoutRangeReadsAgain", {.ranges = false, .breaks = kDrop}},
    {"ChunkedDropWithoutRangeReadsAgain", {.ranges = false, .chunked = true, .breaks = kDrop}},
    {"StallFails", {.breaks = Serving::Break::kStallHalfWay}, kFailed, "stopped sending"},
    {"NotFound", {.htmlStatus = "404 Not Found"}, kOpenFailed, "HTTP 404"},
    {"HtmlPage", {.htmlStatus = "200 OK"}, kOpenFailed, "not audio"},
    // Addresses that reach no server name their failure.
    {"NotAnAddress", {}, kOpenFailed, "", 0, "not an address"},
    {"NoServer", {}, kOpenFailed, "", 0, "http://127.0.0.1:1/song.mp3"},
};

INSTANTIATE_TEST_SUITE_P(Servers, ServerPlaybackTest, ::testing::ValuesIn(kRows),
                         printing::CaseName());

class SeekTest : public ::testing::TestWithParam<ServerRow> {
 protected:
  // Asks for a seek and returns the first position played after it;
  // `whileBuffering` runs once the worker shows it waits.
  std::int64_t SeekTo(std::int64_t targetMs, const std::function<void()>& whileBuffering = {}) {
    const std::size_t states = view_->Values("state").size();
    words_.seekTargetMs = targetMs;
    words_.seekPending = true;
    EXPECT_TRUE(WaitUntil([&] { return view_->Values("state").size() > states; }));
    EXPECT_EQ(view_->Values("state").at(states), "正在缓冲...");
    const std::int64_t before = words_.positionMs;  // the worker is inside the seek
    if (whileBuffering) {
      whileBuffering();
    }
    EXPECT_TRUE(WaitUntil([&] { return words_.positionMs != before; }));
    EXPECT_EQ(view_->Last("state"), "播放中");
    return words_.positionMs;
  }

  PlaybackWords words_;
  const RecordingView* view_ = nullptr;
};

// 45 s of constant bit rate frames without a length header: long enough
// that a seek far beyond the cached part is not read on to by the parser
// (which reads on from what it has seen up to 20 s).
std::string LongSong() {
  const std::string frames = net::testing::SongBytes("audio/tide.mp3", true);
  return frames + frames + frames;
}
constexpr std::int64_t kLongSongMs = 45'000;

// A long song, held half-way by its first transfer until the test lets it
// go on: a seek before and a seek beyond what is cached, on each kind of
// server; then the song, fetched whole, is saved from the cache.
TEST_P(SeekTest, LandsWithinASecondBeforeAndBeyondTheCachedPart) {
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  Serving serving = GetParam().serving;
  serving.breaks = Serving::Break::kHoldHalfWay;
  const std::string songBytes = LongSong();
  net::testing::SongServer server(serving, songBytes);
  auto owned = std::make_unique<RecordingView>();
  view_ = owned.get();
  const auto device = [](std::stop_token stop) {
    return MakeGstMediaDevice(std::move(stop), {.stallLimit = std::chrono::seconds(30)});
  };
  PlaybackWorker worker(server.Address(), words_, std::move(owned), device);
  ASSERT_TRUE(WaitUntil([&] { return words_.positionMs >= 1000; }));

  EXPECT_NEAR(SeekTo(300), 300, 1000);
  EXPECT_EQ(server.Requests().size(), 1u) << "the cached part is read from the file";
  // Beyond it: a Range server is asked from there while the first transfer
  // still holds; without Range the song is read on to the target.
  const std::int64_t beyondMs = kLongSongMs - 1500;
  const auto readOn = [&] {
    if (!serving.ranges)
      server.LetBreak();
  };
  EXPECT_NEAR(SeekTo(beyondMs, readOn), beyondMs, 1000);
  server.LetBreak();
  EXPECT_EQ(server.Requests().size() > 1, serving.ranges);
  ASSERT_TRUE(worker.WaitForEnd(std::chrono::seconds(30)));
  EXPECT_EQ(worker.Ending(), kSongEnded) << worker.Failure();

  const auto requests = server.Requests().size();
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / ("saved-" + std::string(GetParam().name));
  std::filesystem::remove_all(folder);
  download::testing::Recorder reporter;
  const scrape::SongRecord song{"S", "T", "\"" + server.Address() + "\"", "", ""};
  download::DownloadSongs({song}, {.folder = folder, .tags = false}, reporter);
  const download::DownloadResult& saved = reporter.results.at(0);
  EXPECT_EQ(saved.outcome, download::Outcome::kDownloaded) << saved.error;
  EXPECT_EQ(server.Requests().size(), requests) << "saved without a request";
  EXPECT_EQ(download::testing::ReadFile(saved.path), songBytes);
}

INSTANTIATE_TEST_SUITE_P(Servers, SeekTest, ::testing::ValuesIn(kRows, kRows + 6),
                         printing::CaseName());

TEST(GstMediaDeviceTest, StopTokenCutsShortAnOpenWhoseServerNeverAnswers) {
  net::testing::RawServer silent([](int socket, const std::stop_token& stop) {
    while (!net::testing::ReadRequest(socket, stop).empty()) {
    }
  });
  std::stop_source stop;
  const auto device = MakeGstMediaDevice(stop.get_token());
  auto open =
      std::async(std::launch::async, [&] { return device->Open(silent.Address("/x.mp3")); });
  EXPECT_TRUE(WaitUntil([&] { return silent.connections() > 0; }))
      << "the open never reached the server";
  stop.request_stop();  // the open now waits for an answer that never comes
  EXPECT_EQ(open.get(), OpenResult::kStopped);
}

}  // namespace
}  // namespace melo::playback
