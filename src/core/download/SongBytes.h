#pragma once
// A song's bytes as a player reads them while they come: what the player
// module sees of CachedSong, through virtual calls only, so that the module
// needs none of the core's code.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace melo::download {

class SongBytes {
 public:
  enum class Start { kReady, kFailed, kTimedOut, kStopped };

  virtual ~SongBytes() = default;

  // Until the reply has proved to be a song (its first bytes are in) or the
  // fetch has failed.
  virtual Start AwaitStart(const std::stop_token& stop,
                           std::chrono::steady_clock::time_point deadline) = 0;
  // Copies up to `length` bytes from `offset` into `out` once they are here
  // (fewer only at the song's end or after a failure); 0 at the end, after
  // a failure, once reads are cancelled or `abandoned` says so.
  virtual std::size_t Read(std::uint64_t offset, char* out, std::size_t length,
                           const std::function<bool()>& abandoned = {}) = 0;
  // Every waiting and later read returns 0 at once.
  virtual void CancelReads() = 0;
  // True when the song ends at or before `offset`.
  virtual bool EndsBy(std::uint64_t offset) const = 0;
  virtual std::optional<std::uint64_t> TotalBytes() const = 0;
  // Why the fetch failed, for a person to read; empty while it has not.
  virtual std::string Failure() const = 0;
  // The song's playing time as its ID3v2 tag names it, else counted from
  // its frames once it is whole.
  virtual std::optional<std::int64_t> CountedLengthMs() = 0;
};

}  // namespace melo::download
