#pragma once
// The playback states by name in a failing test's message.

#include <ostream>

#include "playback/MediaDevice.h"
#include "playback/PlaybackController.h"
#include "playback/PlaybackWorker.h"

namespace melo::playback {

inline void PrintTo(OpenResult v, std::ostream* os) {
  static constexpr const char* kNames[] = {"kOpened", "kFailed", "kTimedOut", "kStopped"};
  *os << kNames[static_cast<int>(v)];
}
inline void PrintTo(MediaMode v, std::ostream* os) {
  *os << (v == MediaMode::kPlaying ? "kPlaying" : "kStopped");
}
inline void PrintTo(WorkerEnding v, std::ostream* os) {
  static constexpr const char* kNames[] = {"kRunning", "kOpenFailed", "kSongEnded", "kStopped"};
  *os << kNames[static_cast<int>(v)];
}
inline void PrintTo(OpenOutcome v, std::ostream* os) {
  static constexpr const char* kNames[] = {"kPending", "kOpened", "kFailed"};
  *os << kNames[static_cast<int>(v)];
}
inline void PrintTo(SliderEvent v, std::ostream* os) {
  *os << (v == SliderEvent::kMoving ? "kMoving" : "kEndTrack");
}

}  // namespace melo::playback
