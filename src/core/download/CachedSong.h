#pragma once
// A song fetched for playback into its cache file, over the download's own
// transfer rules, while it is read: from where it is wanted first, a later
// stretch by a new request from that byte where the server takes Range
// (else by reading on), then the gaps, until the file holds the whole song.
// A read waits for its bytes, never for the whole song.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "core/download/ByteRanges.h"
#include "core/download/Download.h"
#include "core/download/FileDescriptor.h"
#include "core/download/SongBytes.h"
#include "core/download/SongCache.h"

namespace melo::download {

class CachedSong final : public SongBytes {
 public:
  // Takes the cache's whole copy when there is one; otherwise starts
  // fetching at once. `rules`: stall, retries and their pause.
  CachedSong(std::string requestAddress, DownloadOptions rules,
             std::uint64_t capBytes = kSongCacheBytes);
  // Stops the fetch; a song not fetched whole leaves no file behind.
  ~CachedSong() override;
  CachedSong(const CachedSong&) = delete;
  CachedSong& operator=(const CachedSong&) = delete;

  Start AwaitStart(const std::stop_token& stop,
                   std::chrono::steady_clock::time_point deadline) override;
  std::size_t Read(std::uint64_t offset, char* out, std::size_t length,
                   const std::function<bool()>& abandoned = {}) override;
  void CancelReads() override;
  // Waiting reads look at their `abandoned` again.
  void WakeReads() { changed_.notify_all(); }
  bool EndsBy(std::uint64_t offset) const override;

  std::optional<std::uint64_t> TotalBytes() const override;
  bool Whole() const;
  std::string Failure() const override;
  // Bytes written into the cache file by this fetch.
  std::uint64_t WrittenBytes() const;
  std::optional<std::int64_t> CountedLengthMs() override;

 private:
  struct Reply;
  enum class Ended { kBody, kMovedOn, kRetry, kFail };
  struct RequestEnd {
    Ended how = Ended::kRetry;
    std::string error;
  };

  void OpenPart();
  void Fetch(std::stop_token stop);
  RequestEnd Request(std::uint64_t from, const std::stop_token& stop);
  std::optional<std::uint64_t> NextStart();
  bool TakeBody(Reply& reply, std::string_view bytes);
  bool JudgeReply(Reply& reply, std::string_view first);
  RequestEnd JudgeEnd(const Reply& reply, int curlResult, const char* errorText);
  void AskFor(std::uint64_t offset);
  void Fail(std::string reason);
  void FinishWhole();
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* reply);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* reply);

  const std::string address_;
  const DownloadOptions rules_;
  const std::uint64_t capBytes_;
  const std::filesystem::path wholePath_;
  std::filesystem::path partPath_;
  FileDescriptor file_{-1};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  ByteRanges held_;
  std::optional<std::uint64_t> total_;
  bool takesRanges_ = false;
  bool started_ = false;
  bool whole_ = false;
  bool readsCancelled_ = false;
  std::string failure_;
  std::uint64_t written_ = 0;
  std::uint64_t lastRead_ = 0;
  // Where the running request writes next, and its multi handle to wake.
  std::uint64_t cursor_ = 0;
  void* running_ = nullptr;  // CURLM*
  // A read waits for this byte, out of the running request's reach: the
  // request ends and the next starts there.
  std::optional<std::uint64_t> wanted_;
  std::optional<std::int64_t> countedMs_;
  bool tagRead_ = false;

  std::jthread fetcher_;  // last: joined before the members it uses go
};

}  // namespace melo::download
