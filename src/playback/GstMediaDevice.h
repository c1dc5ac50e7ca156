#pragma once
// The media device over GStreamer's playbin, fed from the song's cache file
// (see CachedSong): the bytes come over the program's own transfer. No
// GStreamer header here: the window and the command line only see the
// MediaDevice interface, and GStreamer itself is loaded with the player
// module on the first open (see PlayerModule.h).

#include <chrono>
#include <memory>
#include <stop_token>

#include "playback/MediaDevice.h"

namespace melo::playback {

// How long an open may wait for the stream to be ready.
inline constexpr std::chrono::seconds kOpenTimeout{20};

struct GstDeviceOptions {
  // How long a transfer may stay silent before the connection counts as
  // broken; a broken transfer is taken up again (over Range where the
  // server takes it, else from the start, past the bytes held).
  std::chrono::seconds stallLimit{15};
  int transferRetries = 3;
};

// Audio goes to the system's default output, or to the GStreamer bin that
// MELODRIFT_AUDIO_SINK describes (e.g. "fakesink sync=true" for tests on a
// machine without a sound device). `stop` cuts a waiting open short. Without
// the player module, every open fails and says so.
std::unique_ptr<MediaDevice> MakeGstMediaDevice(std::stop_token stop = {},
                                                GstDeviceOptions options = {});

}  // namespace melo::playback
