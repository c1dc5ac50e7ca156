#include "playback/PlaybackTimes.h"

#include <algorithm>
#include <cstdio>

namespace melo::playback {
namespace {

std::string MinutesSeconds(const char* format, std::int64_t ms) {
  ms = std::max<std::int64_t>(ms, 0);
  const long long minutes = ms / 60'000;
  const long long seconds = (ms / 1000) % 60;
  char text[48];
  std::snprintf(text, sizeof text, format, minutes, seconds);
  return text;
}

}  // namespace

std::string TotalText(std::int64_t lengthMs) {
  return MinutesSeconds("/%lld:%02lld", lengthMs);
}

std::string ElapsedText(std::int64_t positionMs) {
  return MinutesSeconds("%lld:%02lld", positionMs);
}

std::optional<int> SliderValue(std::int64_t positionMs, std::int64_t lengthMs) {
  if (lengthMs <= 0) {
    return std::nullopt;
  }
  const std::int64_t value = std::max<std::int64_t>(positionMs, 0) * kSliderMax / lengthMs;
  return static_cast<int>(std::min<std::int64_t>(value, kSliderMax));
}

std::int64_t SeekTarget(std::int64_t lengthMs, int sliderValue) {
  const std::int64_t value = std::clamp(sliderValue, 0, kSliderMax);
  return std::max<std::int64_t>(lengthMs, 0) * value / kSliderMax;
}

}  // namespace melo::playback
