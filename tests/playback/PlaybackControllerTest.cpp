#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "playback/FakeMediaDevice.h"
#include "playback/PlaybackController.h"
#include "playback/PlaybackTexts.h"
#include "playback/TestWindow.h"

namespace melo::playback {
namespace {

using testing::FakeMedia;
using testing::TestWindow;

std::string Address(int row) {
  return "http://localhost/cache/mp3/" + std::to_string(row) + "/s.mp3";
}
std::string Link(int row) {
  return "\"" + Address(row) + "\"";
}

template <typename T>
bool Holds(const std::vector<T>& seen, const T& value) {
  return std::find(seen.begin(), seen.end(), value) != seen.end();
}

class PlaybackControllerTest : public ::testing::Test {
 protected:
  PlaybackControllerTest() {
    window.links = {Link(0), Link(1), Link(2)};
    controller = std::make_unique<PlaybackController>(window, window, window, media.Factory());
  }

  bool PumpUntilElapsed(const std::string& text) {
    return window.PumpUntil([&] { return Holds(window.elapsedTexts, text); });
  }
  bool PumpUntilLogged(const std::string& entry) {
    return window.PumpUntil([&] { return media.Logged(entry); });
  }
  std::vector<std::string> LogOf(int device) const {
    std::vector<std::string> entries;
    const std::string prefix = std::to_string(device) + " ";
    for (const auto& entry : media.Entries()) {
      if (entry.starts_with(prefix)) {
        entries.push_back(entry.substr(prefix.size()));
      }
    }
    return entries;
  }

  FakeMedia media;
  TestWindow window;
  std::unique_ptr<PlaybackController> controller;  // last: goes first
};

TEST_F(PlaybackControllerTest, PlayShowsStatesTimesAndSlider) {
  window.links[1] = "\"http://localhost/cache/mp3/1/\xC4\xE3 x.mp3\"";
  controller->OnPlaySelected(1);
  ASSERT_TRUE(PumpUntilElapsed("0:03"));

  EXPECT_EQ(LogOf(1).at(0), "open http://localhost/cache/mp3/1/%C4%E3%20x.mp3");
  EXPECT_EQ(LogOf(1).at(1), "seek 0");
  EXPECT_EQ(window.states, (std::vector<std::string>{"已停止", "正在缓冲...", "播放中"}));
  EXPECT_EQ(window.total, "/4:05");
  EXPECT_EQ(
      (std::vector<std::string>(window.elapsedTexts.begin(), window.elapsedTexts.begin() + 3)),
      (std::vector<std::string>{"0:01", "0:02", "0:03"}));
  window.PumpUntil([&] { return window.sliderValues.size() >= 4; });
  // The play command's own reset, then the worker's.
  EXPECT_EQ((std::vector<int>(window.sliderValues.begin(), window.sliderValues.begin() + 4)),
            (std::vector<int>{0, 4, 8, 12}));
  EXPECT_TRUE(window.stopEnabled);
  EXPECT_TRUE(window.sliderEnabled);
  EXPECT_EQ(controller->PlayIndex(), 1);
}

TEST_F(PlaybackControllerTest, ThumbStaysWhileDraggedAndReleaseSeeks) {
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilElapsed("0:02"));
  controller->OnSliderScroll(SliderEvent::kMoving, 400);
  const std::size_t cycles = window.elapsedTexts.size();
  // The cycle under way may still have read the flag as down.
  window.PumpUntil([&] { return window.elapsedTexts.size() >= cycles + 3; });
  const std::size_t moves = window.sliderValues.size();
  ASSERT_TRUE(window.PumpUntil([&] { return window.elapsedTexts.size() >= cycles + 6; }));
  EXPECT_EQ(window.sliderValues.size(), moves);

  window.states.clear();
  controller->OnSliderScroll(SliderEvent::kEndTrack, 500);
  EXPECT_EQ(controller->SeekTargetMs(), 122'839);
  ASSERT_TRUE(PumpUntilLogged("1 seek 122839"));
  ASSERT_TRUE(PumpUntilElapsed("2:03"));  // goes on from the target
  EXPECT_EQ(window.states, (std::vector<std::string>{"正在缓冲...", "播放中"}));
  EXPECT_GT(window.sliderValues.size(), moves);
}

TEST_F(PlaybackControllerTest, NextStartsAtTheLastSeekAndPlayStartsAtZero) {
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilElapsed("0:01"));
  controller->OnSliderScroll(SliderEvent::kEndTrack, 500);
  controller->OnNextSong();
  ASSERT_TRUE(PumpUntilLogged("2 seek 122839"));

  controller->OnPlaySelected(2);
  EXPECT_EQ(window.slider, 1);
  ASSERT_TRUE(PumpUntilLogged("3 seek 0"));
}

TEST_F(PlaybackControllerTest, SongThatEndsByItselfLeavesItsControls) {
  media.lengthMs = 3000;
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilLogged("1 close"));
  window.RunPosted();
  EXPECT_EQ(LogOf(1).back(), "close");
  EXPECT_EQ(window.state, texts::kPlaying);
  EXPECT_EQ(window.elapsed, "0:03");
  EXPECT_TRUE(window.stopEnabled);
  EXPECT_TRUE(window.sliderEnabled);

  controller->OnStopPlayback();
  EXPECT_EQ(window.state, texts::kStopped);
  EXPECT_FALSE(window.stopEnabled);
  EXPECT_FALSE(window.sliderEnabled);
}

TEST_F(PlaybackControllerTest, UnopenableAddressStaysBuffering) {
  media.unopenable = {Address(1)};
  controller->OnPlaySelected(0);
  controller->OnNextSong();
  ASSERT_TRUE(PumpUntilLogged("2 open " + Address(1)));
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kBuffering);
  EXPECT_FALSE(window.stopEnabled);
  EXPECT_TRUE(window.sliderEnabled);
}

TEST_F(PlaybackControllerTest, PlayGivesUpOnAnAddressThatFailsAtOnce) {
  media.unopenable = {Address(0)};
  controller->OnPlaySelected(0);
  EXPECT_EQ(media.DevicesMade(), PlaybackController::kPlayAttempts);
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kStopped);
  EXPECT_FALSE(window.stopEnabled);
  EXPECT_FALSE(window.sliderEnabled);
}

TEST_F(PlaybackControllerTest, WorkerLeftBehindByAWaitTouchesOnlyItsOwnDevice) {
  media.HoldOpens(Address(0));
  controller->OnPlaySelected(0);  // the open outlives the play command's wait
  controller->OnNextSong();       // and the step's wait
  ASSERT_TRUE(PumpUntilElapsed("0:02"));
  media.ReleaseOpens();
  ASSERT_TRUE(PumpUntilLogged("1 close"));
  const std::size_t cycles = window.elapsedTexts.size();
  ASSERT_TRUE(window.PumpUntil([&] { return window.elapsedTexts.size() > cycles + 1; }));

  EXPECT_EQ(LogOf(1), (std::vector<std::string>{"open " + Address(0), "stop", "close"}));
  EXPECT_FALSE(Holds(LogOf(2), std::string("stop")));
  EXPECT_EQ(window.state, texts::kPlaying);
  EXPECT_TRUE(window.stopEnabled);
}

TEST_F(PlaybackControllerTest, StepsFromARowThatIsGonePlayNothing) {
  controller->OnPlaySelected(2);
  window.links.resize(1);
  controller->OnNextSong();
  controller->OnPreviousSong();
  window.links.clear();
  controller->OnNextSong();
  EXPECT_EQ(media.DevicesMade(), 1);
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kStopped);
  EXPECT_FALSE(window.sliderEnabled);
}

TEST_F(PlaybackControllerTest, ClosingStopsTheSongAndNothingReachesTheWindowAfter) {
  controller->OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilElapsed("0:01"));
  controller->OnCloseWindow();
  EXPECT_EQ(LogOf(1).back(), "close");
  controller->OnPlaySelected(1);
  controller->OnNextSong();
  EXPECT_EQ(media.DevicesMade(), 1);
  controller.reset();
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kStopped);
}

}  // namespace
}  // namespace melo::playback
