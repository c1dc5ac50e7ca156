#include <gtest/gtest.h>

#include "playback/PlaybackAddress.h"
#include "playback/PlaybackTimes.h"

namespace melo::playback {
namespace {

TEST(PlaybackTimesTest, TimeTexts) {
  const struct {
    std::int64_t ms;
    const char* total;
    const char* elapsed;
  } cases[] = {
      {0, "/0:00", "0:00"},
      {999, "/0:00", "0:00"},
      {61'999, "/1:01", "1:01"},
      {245'678, "/4:05", "4:05"},
      {3'600'000, "/60:00", "60:00"},              // minutes are not folded into hours
      {2'400'000'000LL, "/40000:00", "40000:00"},  // past the 32-bit range
      {-5, "/0:00", "0:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TotalText(c.ms), c.total) << c.ms;
    EXPECT_EQ(ElapsedText(c.ms), c.elapsed) << c.ms;
  }
}

TEST(PlaybackTimesTest, SliderValues) {
  const struct {
    std::int64_t positionMs, lengthMs;
    std::optional<int> value;
  } cases[] = {
      {61'999, 245'678, 252},      {0, 245'678, 0},
      {245'678, 245'678, 1000},    {300'000, 245'678, 1000},  // a position past the reported length
      {2'300'000, 2'400'000, 958},  // 40 minutes: the product needs 64 bits
      {1'000, 0, std::nullopt},     // unknown length: no division
      {1'000, -1, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SliderValue(c.positionMs, c.lengthMs), c.value) << c.positionMs << "/" << c.lengthMs;
  }
}

TEST(PlaybackTimesTest, SeekTargets) {
  const struct {
    std::int64_t lengthMs;
    int value;
    std::int64_t targetMs;
  } cases[] = {
      {245'678, 500, 122'839},
      {245'678, 1, 245},
      {245'678, 1000, 245'678},
      {2'400'000, 1000, 2'400'000},  // 40 minutes
      {0, 500, 0},
      {245'678, 1200, 245'678},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SeekTarget(c.lengthMs, c.value), c.targetMs) << c.lengthMs << " x " << c.value;
  }
}

TEST(PlaybackAddressTest, UnquotesTheStoredLink) {
  const struct {
    const char* link;
    const char* address;
  } cases[] = {
      {"\"http://h/a b.mp3\"", "http://h/a b.mp3"},
      {"http://h/a.mp3", "http://h/a.mp3"},  // typed without quotes
      {"\"", ""},
      {"\"\"", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnquoteLink(c.link), c.address) << c.link;
  }
}

}  // namespace
}  // namespace melo::playback
