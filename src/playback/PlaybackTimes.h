#pragma once
// Time texts and the position slider's arithmetic. Times are milliseconds;
// the products run in 64 bits so songs past 35 minutes do not overflow.

#include <cstdint>
#include <optional>
#include <string>

namespace melo::playback {

inline constexpr int kSliderMin = 1;
inline constexpr int kSliderMax = 1000;

// "/%d:%02d": whole minutes (not folded into hours) and seconds.
std::string TotalText(std::int64_t lengthMs);
// "%d:%02d"
std::string ElapsedText(std::int64_t positionMs);

// The position in thousandths of the length, truncated and kept within
// 0..kSliderMax; empty for an unknown length (0 or less).
std::optional<int> SliderValue(std::int64_t positionMs, std::int64_t lengthMs);

// The position that a slider value stands for, truncated.
std::int64_t SeekTarget(std::int64_t lengthMs, int sliderValue);

}  // namespace melo::playback
