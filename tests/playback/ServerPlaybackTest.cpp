// The playback worker with the real device against servers as they are in
// the wild, each served by the test's own loopback server: what the worker
// must report for each.

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "playback/GstMediaDevice.h"
#include "playback/PlaybackTimes.h"
#include "playback/PlaybackWorker.h"
#include "playback/SongServer.h"

namespace melo::playback {
namespace {

using testing::Serving;
using Break = Serving::Break;

// What the worker showed, from any thread: each control's values in order,
// repeats folded.
class RecordingView final : public PlaybackView {
 public:
  void ShowState(std::string_view text) override { Add("state", text); }
  void ShowTotal(std::string_view text) override { Add("total", text); }
  void ShowElapsed(std::string_view text) override { Add("elapsed", text); }
  void SetSlider(int value) override { Add("slider", std::to_string(value)); }
  void EnableStop(bool) override {}
  void EnableSlider(bool enabled) override { Add("slider-enabled", enabled ? "1" : "0"); }

  bool Shown(const std::string& control) const { return !Values(control).empty(); }
  std::string First(const std::string& control) const {
    return Shown(control) ? Values(control).front() : "";
  }
  std::string Last(const std::string& control) const {
    return Shown(control) ? Values(control).back() : "";
  }

 private:
  std::vector<std::string> Values(const std::string& control) const {
    std::lock_guard lock(mutex_);
    const auto found = shown_.find(control);
    return found == shown_.end() ? std::vector<std::string>() : found->second;
  }
  void Add(const std::string& control, std::string_view value) {
    std::lock_guard lock(mutex_);
    auto& values = shown_[control];
    if (values.empty() || values.back() != value) {
      values.emplace_back(value);
    }
  }

  mutable std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> shown_;
};

struct ServerRow {
  const char* name;
  Serving serving;
  std::int64_t startMs;
  WorkerEnding ending;
  std::string failure;  // what the failure text holds
};

void PrintTo(const ServerRow& row, std::ostream* out) {
  *out << row.name;
}

class ServerPlaybackTest : public ::testing::TestWithParam<ServerRow> {};

TEST_P(ServerPlaybackTest, WorkerReports) {
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  const ServerRow& row = GetParam();
  testing::SongServer server(row.serving);
  PlaybackWords words;
  words.seekTargetMs = row.startMs;
  auto owned = std::make_unique<RecordingView>();
  const RecordingView& view = *owned;
  // A short stall limit and one retry, so a stalled server fails soon.
  PlaybackWorker worker(server.SongAddress(), words, std::move(owned), [](std::stop_token stop) {
    return MakeGstMediaDevice(std::move(stop),
                              {.stallLimit = std::chrono::seconds(2), .transferRetries = 1});
  });
  // Once the song plays, a connection that is to break may.
  while (!worker.WaitForEnd(std::chrono::milliseconds(20))) {
    if (view.Shown("elapsed")) {
      server.LetBreak();
    }
  }

  EXPECT_EQ(worker.Ending(), row.ending);
  EXPECT_NE(worker.Failure().find(row.failure), std::string::npos) << worker.Failure();
  switch (row.ending) {
    case WorkerEnding::kSongEnded: {
      EXPECT_EQ(view.Last("state"), "播放中");
      // The total appears once the stream knows it, the elapsed time and
      // the slider go to the end.
      EXPECT_EQ(view.Last("total"), TotalText(testing::kSongLengthMs));
      EXPECT_NEAR(words.lengthMs, testing::kSongLengthMs, 500);
      EXPECT_EQ(view.Last("elapsed"), ElapsedText(testing::kSongLengthMs));
      EXPECT_GE(std::atoi(view.Last("slider").c_str()), 900);
      // Started where it was asked to, or from 0 where the server cannot seek.
      const bool seeks = row.startMs > 0 && row.serving.ranges;
      EXPECT_EQ(view.First("elapsed"), ElapsedText(seeks ? row.startMs : 0));
      break;
    }
    case WorkerEnding::kFailed:
      // Broken off in the middle: said so, not taken for the end.
      EXPECT_EQ(view.Last("state"), "已停止");
      EXPECT_EQ(view.Last("slider-enabled"), "0");
      EXPECT_LT(words.lengthMs - 1000, testing::kSongLengthMs);
      break;
    default:
      EXPECT_EQ(view.Last("state"), "正在缓冲...");
      EXPECT_FALSE(view.Shown("elapsed"));
      break;
  }
}

const ServerRow kServerRows[] = {
    {"WithRange", {}, 0, WorkerEnding::kSongEnded, ""},
    {"WithoutRange", {.ranges = false}, 0, WorkerEnding::kSongEnded, ""},
    {"WithRangeStartingLater", {}, 1500, WorkerEnding::kSongEnded, ""},
    {"WithoutRangeSeekIsDropped", {.ranges = false}, 1500, WorkerEnding::kSongEnded, ""},
    {"ChunkedWithRange", {.chunked = true}, 0, WorkerEnding::kSongEnded, ""},
    {"ChunkedWithoutRange", {.ranges = false, .chunked = true}, 0, WorkerEnding::kSongEnded, ""},
    {"RedirectToWithRange", {.redirect = true}, 0, WorkerEnding::kSongEnded, ""},
    {"RedirectToWithoutRange",
     {.ranges = false, .redirect = true},
     0,
     WorkerEnding::kSongEnded,
     ""},
    {"NoLengthHeader", {.ranges = false, .noLengthHeader = true}, 0, WorkerEnding::kSongEnded, ""},
    {"NoLengthHeaderChunked",
     {.ranges = false, .chunked = true, .noLengthHeader = true},
     0,
     WorkerEnding::kSongEnded,
     ""},
    {"DropWithRangeResumes", {.breaks = Break::kDropHalfWay}, 0, WorkerEnding::kSongEnded, ""},
    {"DropWithoutRangeFails",
     {.ranges = false, .breaks = Break::kDropHalfWay},
     0,
     WorkerEnding::kFailed,
     "connection lost"},
    {"ChunkedDropWithoutRangeFails",
     {.ranges = false, .chunked = true, .breaks = Break::kDropHalfWay},
     0,
     WorkerEnding::kFailed,
     "connection lost"},
    {"StallFails", {.breaks = Break::kStallHalfWay}, 0, WorkerEnding::kFailed, "stopped sending"},
    {"NotFound", {.status = "404 Not Found"}, 0, WorkerEnding::kOpenFailed, "HTTP 404"},
    {"HtmlPage", {.html = true}, 0, WorkerEnding::kOpenFailed, "not audio"},
};

INSTANTIATE_TEST_SUITE_P(Servers, ServerPlaybackTest, ::testing::ValuesIn(kServerRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerPlaybackTest, AddressesThatReachNoServerNameTheirFailure) {
  for (const std::string address : {"not an address", "http://127.0.0.1:1/song.mp3"}) {
    PlaybackWords words;
    PlaybackWorker worker(address, words, std::make_unique<RecordingView>(),
                          [](std::stop_token stop) { return MakeGstMediaDevice(std::move(stop)); });
    ASSERT_TRUE(worker.WaitForEnd(std::chrono::seconds(60))) << address;
    EXPECT_EQ(worker.Ending(), WorkerEnding::kOpenFailed) << address;
    EXPECT_FALSE(worker.Failure().empty()) << address;
  }
}

}  // namespace
}  // namespace melo::playback
