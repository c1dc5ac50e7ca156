#pragma once
// The volume as the audio output takes it (linear: a factor on the
// samples) and as a volume control shows it (cubic, as desktop mixers do:
// half way on the control sounds about half as loud).

#include <algorithm>
#include <cmath>

namespace melo::playback {

inline constexpr double kFullVolume = 1.0;

inline double LinearFromCubic(double cubic) {
  const double kept = std::clamp(cubic, 0.0, 1.0);
  return kept * kept * kept;
}

inline double CubicFromLinear(double linear) {
  return std::cbrt(std::clamp(linear, 0.0, 1.0));
}

}  // namespace melo::playback
