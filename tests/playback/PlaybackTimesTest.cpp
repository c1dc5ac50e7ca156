#include <gtest/gtest.h>

#include "playback/PlaybackTimes.h"

namespace melo::playback {
namespace {

constexpr std::int64_t kFortyMinutesMs = 2'400'000;  // past 36 min the slider product needs 64 bits

// Minutes not folded into hours; past the 32-bit range; below zero. (Cut,
// not rounded: the controller case's "/4:05".)
TEST(PlaybackTimesTest, TimeTexts) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {3'600'000, "60:00"}, {2'400'000'000LL, "40000:00"}, {-5, "0:00"}};
  for (const auto& [ms, elapsed] : cases) {
    EXPECT_EQ(ElapsedText(ms), elapsed) << ms;
    EXPECT_EQ(TotalText(ms), std::string("/") + elapsed) << ms;
  }
}

TEST(PlaybackTimesTest, SliderValuesAndSeekTargets) {
  EXPECT_EQ(SliderValue(300'000, 245'678), 1000);  // past the reported length
  EXPECT_EQ(SliderValue(2'300'000, kFortyMinutesMs), 958);
  EXPECT_EQ(SliderValue(1'000, 0), std::nullopt);  // unknown length
  EXPECT_EQ(SeekTarget(245'678, 1), 245);
  EXPECT_EQ(SeekTarget(kFortyMinutesMs, 1000), kFortyMinutesMs);
  EXPECT_EQ(SeekTarget(245'678, 1200), 245'678);  // past the end of the slider
  EXPECT_EQ(SeekTarget(0, 500), 0);
}

}  // namespace
}  // namespace melo::playback
