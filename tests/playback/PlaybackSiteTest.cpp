// The handlers with the GStreamer device, playing the bundled site's MP3s.
#include <gtest/gtest.h>

#include <cstdlib>

#include "playback/GstMediaDevice.h"
#include "playback/PlaybackController.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackTimes.h"
#include "playback/SiteSongs.h"
#include "playback/TestWindow.h"

namespace melo::playback {
namespace {

using testing::Mp3Link;

class PlaybackSiteTest : public ::testing::Test {
 protected:
  // No sound device needed; a real-time sink keeps playback's pace.
  static void SetUpTestSuite() { setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0); }

  PlaybackSiteTest() {
    window.links = {Mp3Link(site, testing::SongWithSpace()), Mp3Link(site, testing::LongestSong()),
                    Mp3Link(site, testing::ShortestSong()),
                    "\"http://" + site.Host() + "/cache/mp3/0000000/gone.mp3\""};
  }

  bool PumpUntilElapsed(const std::string& text) {
    return window.PumpUntil([&] {
      const auto& seen = window.elapsedTexts;
      return std::find(seen.begin(), seen.end(), text) != seen.end();
    });
  }

  bundled::BundledSite site;
  testing::TestWindow window;
  PlaybackController controller{window, window, window,
                                [](std::stop_token stop) { return MakeGstMediaDevice(stop); }};
};

TEST_F(PlaybackSiteTest, PlaysWithStatesAndTimes) {
  controller.OnPlaySelected(0);
  ASSERT_TRUE(PumpUntilElapsed("0:01"));
  EXPECT_EQ(window.states, (std::vector<std::string>{"已停止", "正在缓冲...", "播放中"}));
  EXPECT_EQ(window.total, TotalText(testing::SongWithSpace().lengthMs));
  EXPECT_TRUE(window.stopEnabled);
  EXPECT_TRUE(window.sliderEnabled);
}

TEST_F(PlaybackSiteTest, SliderReleaseSeeksNearItsTarget) {
  controller.OnPlaySelected(1);
  ASSERT_TRUE(PumpUntilElapsed("0:01"));
  const std::int64_t lengthMs = controller.LengthMs();  // as the device measured it
  EXPECT_NEAR(static_cast<double>(lengthMs), testing::LongestSong().lengthMs, 100.0);
  window.sliderValues.clear();
  controller.OnSliderScroll(SliderEvent::kEndTrack, 600);
  const std::int64_t target = controller.SeekTargetMs();
  ASSERT_EQ(target, SeekTarget(lengthMs, 600));

  // Before the seek the thumb stands far below 550; the first value past it
  // is the first position after the seek.
  ASSERT_TRUE(window.PumpUntil([&] {
    return std::any_of(window.sliderValues.begin(), window.sliderValues.end(),
                       [](int v) { return v >= 550; });
  }));
  const int landed = *std::find_if(window.sliderValues.begin(), window.sliderValues.end(),
                                   [](int v) { return v >= 550; });
  EXPECT_NEAR(static_cast<double>(SeekTarget(lengthMs, landed)), static_cast<double>(target),
              500.0);
  EXPECT_EQ(window.state, texts::kPlaying);
}

TEST_F(PlaybackSiteTest, SongEndsByItselfAndStopAfterwards) {
  controller.OnPlaySelected(2);
  ASSERT_TRUE(PumpUntilElapsed(ElapsedText(testing::ShortestSong().lengthMs)));
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kPlaying);
  EXPECT_TRUE(window.stopEnabled);
  controller.OnStopPlayback();
  EXPECT_EQ(window.state, texts::kStopped);
  EXPECT_FALSE(window.stopEnabled);
  EXPECT_FALSE(window.sliderEnabled);
}

TEST_F(PlaybackSiteTest, MissingSongStaysBuffering) {
  controller.OnPlaySelected(2);
  controller.OnNextSong();
  ASSERT_TRUE(window.PumpUntil([&] { return window.state == texts::kBuffering; }));
  EXPECT_EQ(controller.PlayIndex(), 3);
  controller.OnPreviousSong();  // waits for the failed worker, then plays row 2
  ASSERT_TRUE(window.PumpUntil([&] { return window.state == texts::kPlaying; }));
  EXPECT_EQ(controller.PlayIndex(), 2);
}

TEST_F(PlaybackSiteTest, StopDuringPlayback) {
  controller.OnPlaySelected(1);
  ASSERT_TRUE(PumpUntilElapsed("0:01"));
  controller.OnStopPlayback();
  window.RunPosted();
  EXPECT_EQ(window.state, texts::kStopped);
  EXPECT_FALSE(window.stopEnabled);
  EXPECT_FALSE(window.sliderEnabled);
}

}  // namespace
}  // namespace melo::playback
