// The playback handlers against a silent device, with the test thread in
// the part of the window's thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <set>

#include "PlaybackTestSupport.h"
#include "playback/PlayOrder.h"
#include "playback/PlaybackController.h"
#include "playback/PlaybackTexts.h"

namespace melo::playback {
namespace {

using Log = std::vector<std::string>;

template <typename T>
bool Holds(const std::vector<T>& seen, const T& value) {
  return std::find(seen.begin(), seen.end(), value) != seen.end();
}

// What all devices share: the song, and the commands of each device made.
struct FakeMedia {
  std::int64_t lengthMs = 245'678;
  std::atomic<bool> lengthKnown{true};  // false: the stream cannot tell its length yet
  std::atomic<bool> seekable{true};
  std::atomic<double> volume{-1};  // as the last device was told
  std::set<std::string> unopenable;
  std::string heldAddress;  // its opens hang, deaf to stop, until `release` is set
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::mutex mutex;
  std::vector<Log> logs;

  std::size_t NewDevice() {
    std::lock_guard lock(mutex);
    logs.emplace_back();
    return logs.size() - 1;
  }
  void Add(std::size_t device, const std::string& entry) {
    std::lock_guard lock(mutex);
    logs[device].push_back(entry);
  }
  Log Of(std::size_t number) {  // 1: the first device made
    std::lock_guard lock(mutex);
    return number <= logs.size() ? logs[number - 1] : Log{};
  }
  std::size_t Made() {
    std::lock_guard lock(mutex);
    return logs.size();
  }
};

// Moves on a second at each position query while it plays, so a song takes
// a few polling cycles.
class FakeDevice final : public MediaDevice {
 public:
  explicit FakeDevice(FakeMedia& media) : media_(media), id_(media.NewDevice()) {}

  OpenResult Open(const std::string& address) override {
    if (address == media_.heldAddress) {
      media_.released.wait();
    }
    media_.Add(id_, "open " + address);
    return media_.unopenable.contains(address) ? OpenResult::kFailed : OpenResult::kOpened;
  }
  bool Seek(std::int64_t targetMs) override {
    if (!media_.seekable) {
      return false;
    }
    media_.Add(id_, "seek " + std::to_string(targetMs));
    positionMs_ = std::clamp<std::int64_t>(targetMs, 0, media_.lengthMs);
    return true;
  }
  void Play() override {
    media_.Add(id_, "play");
    playing_ = true;
  }
  void Pause() override {
    media_.Add(id_, "pause");
    playing_ = false;
  }
  void SetVolume(double linear) override { media_.volume = linear; }
  std::optional<std::int64_t> LengthMs() override {
    return media_.lengthKnown ? std::optional(media_.lengthMs) : std::nullopt;
  }
  std::optional<std::int64_t> PositionMs() override {
    if (playing_) {
      positionMs_ = std::min<std::int64_t>(positionMs_ + 1000, media_.lengthMs);
    }
    return positionMs_;
  }
  MediaMode Mode() override {
    return positionMs_ >= media_.lengthMs ? MediaMode::kEnded : MediaMode::kPlaying;
  }
  std::string Failure() override { return ""; }
  void Stop() override {
    media_.Add(id_, "stop");
    playing_ = false;
  }
  void Close() override { media_.Add(id_, "close"); }

 private:
  FakeMedia& media_;
  const std::size_t id_;
  std::int64_t positionMs_ = 0;
  bool playing_ = false;
};

std::string Address(int row) {
  return "http://localhost/cache/mp3/" + std::to_string(row) + "/s.mp3";
}

// The test plays the window: its song list, its controls and its thread,
// which runs the posted tasks when the test pumps.
class PlaybackControllerTest : public ::testing::Test, public SongList, public WindowThread {
 protected:
  PlaybackControllerTest() { controller = MakeController(); }
  std::unique_ptr<PlaybackController> MakeController(PlaybackWaits waits = {}) {
    return std::make_unique<PlaybackController>(
        *this, view, *this, [this](auto) { return std::make_unique<FakeDevice>(media); }, waits);
  }
  // The workers call into this object: they must be gone before its
  // destructors start.
  void TearDown() override { controller.reset(); }

  int RowCount() const override { return static_cast<int>(links.size()); }
  std::string DownloadLink(int row) const override { return links.at(row); }
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }

  void RunPosted() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex_);
      batch.swap(tasks_);
    }
    for (auto& task : batch) {
      task();
    }
  }
  // Runs posted tasks until `done` holds; false if it never does.
  bool PumpUntil(const std::function<bool()>& done) {
    return WaitUntil([&] {
      RunPosted();
      return done();
    });
  }
  bool PumpUntilShown(const std::string& control, const std::string& value) {
    return PumpUntil([&] { return Holds(view.Values(control), value); });
  }
  bool PumpUntilLogged(std::size_t device, const std::string& entry) {
    return PumpUntil([&] { return Holds(media.Of(device), entry); });
  }
  void ExpectControls(std::string_view state, bool stopEnabled, bool sliderEnabled) {
    RunPosted();
    EXPECT_EQ(view.Last("state"), state);
    EXPECT_EQ(view.Last("stop-enabled"), stopEnabled ? "1" : "0");
    EXPECT_EQ(view.Last("slider-enabled"), sliderEnabled ? "1" : "0");
  }

  Log links{'"' + Address(0) + '"', '"' + Address(1) + '"', '"' + Address(2) + '"'};
  RecordingView view;  // the window's controls
  FakeMedia media;
  std::unique_ptr<PlaybackController> controller;  // after all it uses: goes first

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

// The play command opens the address encoded and shows each state; a seek
// goes on from its target, the next song starts at the last seek and a play
// command at 0:00.
TEST_F(PlaybackControllerTest, PlayShowsItsStatesAndNextStartsAtTheLastSeek) {
  links[1] = "\"http://localhost/cache/mp3/1/\xC4\xE3 x.mp3\"";
  controller->OnPlaySelected(1);
  ASSERT_TRUE(PumpUntilShown("elapsed", "0:02"));
  EXPECT_EQ(media.Of(1).at(0), "open http://localhost/cache/mp3/1/%C4%E3%20x.mp3");
  EXPECT_EQ(media.Of(1).at(1), "play");  // no seek to where the song starts anyway
  EXPECT_EQ(view.Values("state"), (Log{"已停止", "正在缓冲...", "播放中"}));
  EXPECT_EQ(view.Last("total"), "/4:05");
  ExpectControls(texts::kPlaying, true, true);

  view.Clear();
  controller->OnSliderScroll(SliderEvent::kEndTrack, 500);
  EXPECT_EQ(controller->SeekTargetMs(), 122'839);
  ASSERT_TRUE(PumpUntilShown("elapsed", "2:03"));
  EXPECT_EQ(view.Values("state"), (Log{"正在缓冲...", "播放中"}));

  controller->OnNextSong();
  ASSERT_TRUE(PumpUntilLogged(2, "seek 122839"));
  controller->OnPlaySelected(0);
  EXPECT_EQ(view.Last("slider"), "0");
  ASSERT_TRUE(PumpUntilLogged(3, "play"));
  EXPECT_EQ(media.Of(3).at(1), "play");
}

TEST_F(PlaybackControllerTest, UnopenableAddresses) {
  media.unopenable = {Address(0), Address(1)};
  // However late a busy machine opens, the play command hears each failure.
  controller = MakeController({.play = std::chrono::minutes(5)});
  controller->OnPlaySelected(0);  // fails at once: tried again, a bounded number of times
  EXPECT_EQ(media.Made(), std::size_t{PlaybackController::kPlayAttempts});
  ExpectControls(texts::kStopped, false, false);

  controller->OnNextSong();  // a step does not wait for the open
  ASSERT_TRUE(PumpUntilLogged(PlaybackController::kPlayAttempts + 1, "open " + Address(1)));
  ExpectControls(texts::kBuffering, false, true);
}

TEST_F(PlaybackControllerTest, WorkerLeftBehindByAWaitTouchesOnlyItsOwnDevice) {
  media.heldAddress = Address(0);
  controller->OnPlaySelected(0);  // the open outlives the play command's wait
  controller->OnNextSong();       // and the step's wait
  ASSERT_TRUE(PumpUntilShown("elapsed", "0:02"));
  media.release.set_value();
  ASSERT_TRUE(PumpUntilLogged(1, "close"));
  ASSERT_TRUE(PumpUntilShown("elapsed", "0:04"));  // two more cycles of the new worker

  EXPECT_EQ(media.Of(1), (Log{"open " + Address(0), "stop", "close"}));
  EXPECT_FALSE(Holds(media.Of(2), std::string("stop")));
  ExpectControls(texts::kPlaying, true, true);
}

// ">>" on the last row and "<<" on the first play the same song again; a
// step from a row that is gone plays nothing.
TEST_F(PlaybackControllerTest, StepsAtTheEndsOfTheList) {
  controller->OnPlaySelected(2);
  controller->OnNextSong();
  ASSERT_TRUE(PumpUntilLogged(2, "open " + Address(2)));
  controller->OnPlaySelected(0);
  controller->OnPreviousSong();
  ASSERT_TRUE(PumpUntilLogged(4, "open " + Address(0)));

  // Counted from the stored index even when the row above the playing one
  // has gone and the index is one past the end.
  controller->OnPlaySelected(2);
  links.erase(links.begin() + 1);
  controller->OnPreviousSong();
  ASSERT_TRUE(PumpUntilLogged(6, "open " + Address(2)));
  EXPECT_EQ(controller->PlayIndex(), 1);

  links.clear();
  controller->OnNextSong();
  controller->OnPreviousSong();
  EXPECT_EQ(media.Made(), 6u);
  ExpectControls(texts::kStopped, false, false);
}

// Until the stream knows its length the slider stands for no position, and
// a stream that cannot seek drops the request: the song plays on.
TEST_F(PlaybackControllerTest, SliderWhileTheStreamCannotTellItsLengthOrSeek) {
  media.lengthKnown = false;
  media.seekable = false;
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilShown("elapsed", "0:02"));
  controller->OnSliderScroll(SliderEvent::kMoving, 500);
  controller->OnSliderScroll(SliderEvent::kEndTrack, 500);
  EXPECT_EQ(controller->SeekTargetMs(), 0);
  EXPECT_EQ(view.Values("slider"), (Log{"0"}));  // only the play command's reset
  EXPECT_EQ(view.Last("total"), "/0:00");

  media.lengthKnown = true;
  ASSERT_TRUE(PumpUntilShown("total", "/4:05"));
  EXPECT_EQ(controller->LengthMs(), 245'678);
  view.Clear();
  controller->OnSliderScroll(SliderEvent::kEndTrack, 500);
  EXPECT_EQ(controller->SeekTargetMs(), 122'839);  // asked for: the device refuses it
  // The third cycle shown began after the request: by then the seek was
  // refused, and the song went on from where it stood.
  ASSERT_TRUE(PumpUntil([&] { return view.Values("elapsed").size() >= 3; }));
  EXPECT_EQ(view.Last("state"), texts::kPlaying);
  EXPECT_FALSE(Holds(view.Values("elapsed"), std::string("2:02")));
}

// A pause holds the song where it is with its device open and the polling
// going on; stop and the steps work from it as from a playing song.
TEST_F(PlaybackControllerTest, PauseHoldsTheSongAndVolumeReachesTheDevice) {
  controller->SetVolume(0.25);
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilShown("elapsed", "0:02"));
  EXPECT_EQ(media.volume, 0.25);  // before the first sound
  EXPECT_EQ(view.Last("pause-enabled"), "1");

  controller->SetPaused(true);
  ASSERT_TRUE(PumpUntilShown("state", std::string(texts::kPaused)));
  const std::size_t cycles = media.Of(1).size();
  const std::string heldAt = view.Last("elapsed");
  controller->SetVolume(0.5);  // heard while paused
  ASSERT_TRUE(PumpUntil([&] { return media.volume == 0.5; }));
  EXPECT_EQ(view.Last("elapsed"), heldAt);
  EXPECT_EQ(media.Of(1).size(), cycles);  // no stop, no close, no new open
  EXPECT_TRUE(Holds(media.Of(1), std::string("pause")));

  controller->SetPaused(false);
  ASSERT_TRUE(PumpUntil([&] { return view.Last("elapsed") > heldAt; }));
  EXPECT_EQ(view.Last("state"), texts::kPlaying);

  for (const auto& [name, act] : std::vector<std::pair<std::string, std::function<void()>>>{
           {"next", [&] { controller->OnNextSong(); }},
           {"stop", [&] { controller->OnStopPlayback(); }}}) {
    const std::size_t device = media.Made();
    controller->SetPaused(true);
    ASSERT_TRUE(PumpUntilLogged(device, "pause")) << name;
    act();
    EXPECT_EQ(media.Of(device).back(), "close") << name;
  }
  ASSERT_TRUE(PumpUntil([&] { return media.Made() == 2; }));
  ExpectControls(texts::kStopped, false, false);
  EXPECT_EQ(view.Last("pause-enabled"), "0");
  controller->SetPaused(true);  // nothing plays: nothing to hold
  EXPECT_FALSE(controller->Paused());
}

struct ModeRow {
  const char* name;
  PlayMode mode;
  int start;
  Log opened;  // the rows opened, in order, from the play command on
  std::string_view lastState;
  friend void PrintTo(const ModeRow& c, std::ostream* os) { *os << c.name; }
};

class PlayModeTest : public PlaybackControllerTest, public ::testing::WithParamInterface<ModeRow> {
 protected:
  Log OpenedRows() {
    Log rows;
    for (std::size_t device = 1; device <= media.Made(); ++device) {
      const Log log = media.Of(device);
      rows.push_back(log.empty() ? "?" : log.front().substr(log.front().rfind("/mp3/") + 5, 1));
    }
    return rows;
  }
};

// Songs of three seconds end by themselves; a seek in the first song does
// not carry over: every song the mode starts starts at 0:00.
TEST_P(PlayModeTest, WhatFollowsASongThatEndsByItself) {
  const ModeRow& row = GetParam();
  media.lengthMs = 3000;
  controller->SetPlayMode(row.mode);
  controller->OnPlaySelected(row.start);
  ASSERT_TRUE(PumpUntilShown("total", "/0:03"));
  controller->OnSliderScroll(SliderEvent::kEndTrack, 300);
  ASSERT_TRUE(PumpUntil([&] {
    return media.Made() >= row.opened.size() &&
           (row.lastState.empty() || view.Last("state") == row.lastState) &&
           (row.mode != PlayMode::kSingle || view.Last("ended") == "1");
  })) << ::testing::PrintToString(OpenedRows());
  RunPosted();
  Log opened = OpenedRows();
  if (!row.lastState.empty()) {  // playback has come to rest there
    EXPECT_EQ(opened, row.opened);
    EXPECT_EQ(view.Last("stop-enabled"), row.lastState == texts::kPlaying ? "1" : "0");
  }
  controller->OnStopPlayback();
  opened.resize(row.opened.size());
  EXPECT_EQ(opened, row.opened);
  for (std::size_t device = 2; device <= media.Made(); ++device) {
    EXPECT_FALSE(Holds(media.Of(device), std::string("seek 900"))) << device;
  }
}

const ModeRow kModes[] = {
    {"SingleKeepsPlayingShown", PlayMode::kSingle, 1, {"1"}, texts::kPlaying},
    {"SequentialStopsAfterTheLastRow", PlayMode::kSequential, 1, {"1", "2"}, texts::kStopped},
    {"LoopList", PlayMode::kLoopList, 1, {"1", "2", "0", "1"}, {}},
    {"LoopOne", PlayMode::kLoopOne, 1, {"1", "1", "1"}, {}},
};
INSTANTIATE_TEST_SUITE_P(Modes, PlayModeTest, ::testing::ValuesIn(kModes), printing::CaseName());

// Every row once before any row again, rows added meanwhile included; a
// list cleared half-way through a round starts afresh.
TEST_F(PlaybackControllerTest, ShufflePlaysEveryRowOnceBeforeRepeats) {
  media.lengthMs = 2000;
  controller->SetPlayMode(PlayMode::kShuffle);
  const auto addRows = [&](int from, int to) {
    for (int row = from; row < to; ++row) {
      links.push_back('"' + Address(row) + '"');
    }
  };
  // The addresses of the next `songs` songs; `midway` runs once the second has opened.
  const auto play = [&](std::size_t first, std::size_t songs,
                        const std::function<void()>& midway = {}) {
    std::set<std::string> seen;
    for (std::size_t device = first; device < first + songs; ++device) {
      EXPECT_TRUE(PumpUntil([&] { return media.Made() >= device; }));
      if (device == first + 1 && midway) {
        midway();
      }
      seen.insert(media.Of(device).at(0));
    }
    return seen.size();
  };
  controller->OnPlaySelected(1);
  EXPECT_EQ(play(1, 5, [&] { addRows(3, 5); }), 5u);
  EXPECT_EQ(play(6, 3), 3u);

  controller->OnStopPlayback();
  links.clear();
  controller->OnSongListCleared();
  addRows(0, 5);
  const std::size_t first = media.Made() + 1;
  controller->OnPlaySelected(0);
  EXPECT_EQ(play(first, 5), 5u);
}
}  // namespace
}  // namespace melo::playback
