#pragma once
// The GStreamer media device lives in the module "player", loaded on the
// first song played: a command that plays nothing never loads GStreamer.
// The module reads songs through SongBytes, which the program opens for it
// over its own transfer.

#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "core/download/SongBytes.h"
#include "playback/MediaDevice.h"

namespace melo::playback {

inline constexpr char kPlayerModule[] = "player";
inline constexpr char kPlayerEntry[] = "melo_make_media_device";

// Starts fetching the song at `address` for the device to read.
using SongOpener = std::function<std::shared_ptr<download::SongBytes>(const std::string& address)>;
// A new device, the caller's to delete; `stop` cuts a waiting open short.
using MakeDeviceEntry = MediaDevice*(std::stop_token stop, const SongOpener& openSong);

}  // namespace melo::playback
