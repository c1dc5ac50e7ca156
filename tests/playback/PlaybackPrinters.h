#pragma once
// The playback states by name in a failing test's message.

#include <ostream>

#include "Printers.h"
#include "playback/MediaDevice.h"
#include "playback/PlaybackController.h"
#include "playback/PlaybackWorker.h"

namespace melo::playback {

using printing::PrintName;

inline void PrintTo(OpenResult v, std::ostream* os) {
  PrintName(v, {"kOpened", "kFailed", "kTimedOut", "kStopped"}, os);
}
inline void PrintTo(MediaMode v, std::ostream* os) {
  PrintName(v, {"kPlaying", "kStopped"}, os);
}
inline void PrintTo(WorkerEnding v, std::ostream* os) {
  PrintName(v, {"kRunning", "kOpenFailed", "kSongEnded", "kStopped"}, os);
}
inline void PrintTo(OpenOutcome v, std::ostream* os) {
  PrintName(v, {"kPending", "kOpened", "kFailed"}, os);
}
inline void PrintTo(SliderEvent v, std::ostream* os) {
  PrintName(v, {"kMoving", "kEndTrack"}, os);
}

}  // namespace melo::playback
