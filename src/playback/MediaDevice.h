#pragma once
// The media device a playback worker drives: exactly the operations it
// needs, so the worker and its tests do not depend on the engine behind it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace melo::playback {

enum class OpenResult { kOpened = 0, kFailed, kTimedOut, kStopped };

// kEnded once the stream has played to its end; kFailed once it has broken
// off and cannot go on.
enum class MediaMode { kPlaying, kEnded, kFailed };

class MediaDevice {
 public:
  virtual ~MediaDevice() = default;

  // `address` is a URI: the bytes a URI cannot hold are already
  // percent-encoded. Returns once the stream is ready to play or has failed.
  virtual OpenResult Open(const std::string& address) = 0;
  // False, with nothing changed, when the stream cannot seek.
  virtual bool Seek(std::int64_t targetMs) = 0;
  // Plays from the current position to the end; returns at once. Also
  // resumes after Pause.
  virtual void Play() = 0;
  // Holds the song where it is, keeping the stream open; returns once it
  // stands still (a quarter of a second at most), so that the position read
  // next is where it paused.
  virtual void Pause() = 0;
  // A factor on the samples, 0 (silent) to 1 (as the song is).
  virtual void SetVolume(double linear) = 0;
  // Empty while the device cannot tell; may change as the stream learns more.
  virtual std::optional<std::int64_t> LengthMs() = 0;
  virtual std::optional<std::int64_t> PositionMs() = 0;
  virtual MediaMode Mode() = 0;
  // Why the open failed or the stream broke off, for a person to read.
  virtual std::string Failure() = 0;
  // Both return when done.
  virtual void Stop() = 0;
  virtual void Close() = 0;
};

// Makes the device of one worker. The worker's stop token lets a device cut
// a long open short when the worker is told to stop.
using MediaDeviceFactory = std::function<std::unique_ptr<MediaDevice>(std::stop_token)>;

}  // namespace melo::playback
