#include "core/download/PartTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "core/download/FileDescriptor.h"
#include "core/download/FolderFiles.h"
#include "core/download/Id3Tags.h"
#include "core/download/SongCache.h"
#include "core/download/SongRequest.h"
#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"
#include "core/net/RequestAddress.h"

namespace melo::download {
namespace {

using Clock = std::chrono::steady_clock;

// The curl tool's own read size, so a large song costs no more syscalls.
constexpr long kReceiveBufferBytes = 100 * 1024;
// Stop requests wake the poll at once; the slice only bounds a stop that
// arrives between the check and the poll.
constexpr int kPollSliceMs = 100;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr std::chrono::milliseconds kConnectTimeout{30'000};

}  // namespace

std::string_view HeaderValue(std::string_view line, std::string_view name) {
  std::string_view value = line.substr(name.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
    value.remove_suffix(1);
  return value;
}

namespace {

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data())
    return std::nullopt;
  return value;
}

}  // namespace

ContentRange ParseContentRange(std::string_view value) {
  ContentRange range;
  if (!StartsWithNoCase(value, "bytes "))
    return range;
  value.remove_prefix(6);
  const std::size_t slash = value.find('/');
  if (slash == std::string_view::npos)
    return range;
  range.size = Number(value.substr(slash + 1));
  if (value.front() != '*')
    range.first = Number(value.substr(0, value.find('-')));
  return range;
}

namespace {

template <typename Value>
void SetOption(CURL* easy, CURLoption option, Value value) {
  const CURLcode rc = curl_easy_setopt(easy, option, value);
  if (rc != CURLE_OK)
    throw net::InternetError(curl_easy_strerror(rc));
}

}  // namespace

void ApplySongRequestRules(CURL* easy, const std::string& address, const DownloadOptions& options,
                           char* errorText) {
  SetOption(easy, CURLOPT_ERRORBUFFER, errorText);
  SetOption(easy, CURLOPT_URL, address.c_str());
  net::SetWireRules(easy, address);
  SetOption(easy, CURLOPT_USERAGENT, net::CurrentUserAgent().c_str());
  SetOption(easy, CURLOPT_SHARE, net::SharedNameCache());
  SetOption(easy, CURLOPT_NOSIGNAL, 1L);
  SetOption(easy, CURLOPT_QUICK_EXIT, 1L);
  SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeout.count()));
  // Below one byte a second for the stall time: a dead connection.
  SetOption(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  SetOption(easy, CURLOPT_LOW_SPEED_TIME,
            std::max(1L, static_cast<long>(options.stall.count() / 1000)));
  SetOption(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  SetOption(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
}

std::optional<CURLcode> PumpSongRequest(CURLM* multi, const std::stop_token& stop,
                                        const std::function<bool()>& leave) {
  std::stop_callback wake(stop, [multi] { curl_multi_wakeup(multi); });
  while (!stop.stop_requested()) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK)
      return std::nullopt;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE)
        return message->data.result;
    }
    if (leave && leave())
      return std::nullopt;
    curl_multi_poll(multi, nullptr, 0, kPollSliceMs, nullptr);
  }
  return std::nullopt;
}

bool LooksLikePage(std::string_view contentType, std::string_view first) {
  const std::size_t text = first.find_first_not_of(" \t\r\n");
  return StartsWithNoCase(contentType, "text/") ||
         (text != std::string_view::npos && first[text] == '<');
}

namespace {

// What one request ended with.
enum class Verdict {
  kComplete,
  kRetry,       // network trouble or a 5xx: resume after a pause
  kStartOver,   // the server will not resume: from byte 0, no pause
  kFail,        // the song cannot be had
  kFailDiscard  // ... and the bytes are not the song's
};

struct AttemptEnd {
  Verdict verdict = Verdict::kRetry;
  std::string error;
};

// One GET into the open .part, from its current size.
class Attempt {
 public:
  // The .part holds `base` bytes before the song's, then `offset` of the song's.
  Attempt(int fd, std::uint64_t base, std::uint64_t offset, std::uint64_t maxBytes,
          const PartProgress& progress)
      : fd_(fd),
        base_(base),
        offset_(offset),
        written_(offset),
        maxBytes_(maxBytes),
        progress_(progress),
        started_(Clock::now()),
        lastReport_(started_) {}

  AttemptEnd Run(const std::string& address, const DownloadOptions& options,
                 const std::stop_token& stop);

 private:
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  bool StartBody(std::string_view first);
  bool Append(std::string_view bytes);
  AttemptEnd RangeNotSatisfiable() const;
  AttemptEnd TooLarge() const {
    return {Verdict::kFailDiscard, "larger than " + std::to_string(maxBytes_) + " bytes"};
  }
  AttemptEnd Judge(CURLcode result, const char* errorText);
  void Report(bool force);

  int fd_;
  std::uint64_t base_;
  std::uint64_t offset_;
  std::uint64_t written_;
  std::uint64_t maxBytes_;  // 0: no limit
  const PartProgress& progress_;
  Clock::time_point started_;
  Clock::time_point lastReport_;
  CURL* easy_ = nullptr;
  std::string address_;

  std::string contentType_;
  std::string contentRange_;
  bool bodyStarted_ = false;
  std::uint64_t total_ = 0;
  std::optional<AttemptEnd> abort_;  // why a callback ended the transfer
};

AttemptEnd Attempt::Run(const std::string& address, const DownloadOptions& options,
                        const std::stop_token& stop) {
  net::MultiHandle multi = net::AcquireThreadMulti();
  net::EasyHandle easy(curl_easy_init());
  if (!multi || !easy)
    return {Verdict::kFail, curl_easy_strerror(CURLE_OUT_OF_MEMORY)};
  easy_ = easy.get();
  address_ = address;
  char errorText[CURL_ERROR_SIZE] = {};
  const std::string range = std::to_string(offset_) + "-";
  try {
    ApplySongRequestRules(easy_, address, options, errorText);
    if (options.rateLimit > 0)
      SetOption(easy_, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(options.rateLimit));
    // Refused at once when the server announces more; counted in Append
    // when it does not.
    if (maxBytes_ > 0)
      SetOption(easy_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes_));
    if (offset_ > 0)
      SetOption(easy_, CURLOPT_RANGE, range.c_str());
    SetOption(easy_, CURLOPT_WRITEFUNCTION, &Attempt::OnBody);
    SetOption(easy_, CURLOPT_WRITEDATA, this);
    SetOption(easy_, CURLOPT_HEADERFUNCTION, &Attempt::OnHeader);
    SetOption(easy_, CURLOPT_HEADERDATA, this);
  } catch (const net::InternetError& error) {
    return {Verdict::kFail, error.what()};
  }
  if (curl_multi_add_handle(multi.get(), easy_) != CURLM_OK)
    return {Verdict::kFail, curl_easy_strerror(CURLE_OUT_OF_MEMORY)};

  const std::optional<CURLcode> result = PumpSongRequest(multi.get(), stop);
  curl_multi_remove_handle(multi.get(), easy_);
  net::ReleaseThreadMulti(std::move(multi));
  if (!result)
    return {Verdict::kRetry, "stopped"};  // the caller sees the stop itself
  Report(true);
  return Judge(*result, errorText);
}

std::size_t Attempt::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto& attempt = *static_cast<Attempt*>(self);
  const std::string_view line(data, size * count);
  // Every reply of a redirect chain starts its own headers.
  if (StartsWithNoCase(line, "HTTP/")) {
    attempt.contentType_.clear();
    attempt.contentRange_.clear();
  } else if (StartsWithNoCase(line, "Content-Type:")) {
    attempt.contentType_ = HeaderValue(line, "Content-Type:");
  } else if (StartsWithNoCase(line, "Content-Range:")) {
    attempt.contentRange_ = HeaderValue(line, "Content-Range:");
  }
  return size * count;
}

std::size_t Attempt::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto& attempt = *static_cast<Attempt*>(self);
  const std::string_view bytes(data, size * count);
  if (!attempt.bodyStarted_) {
    attempt.bodyStarted_ = true;
    if (!attempt.StartBody(bytes))
      return 0;  // curl ends the transfer with a write error
  }
  return attempt.Append(bytes) ? bytes.size() : 0;
}

// Decides from the first body bytes whether they belong in the file, and
// where.
bool Attempt::StartBody(std::string_view first) {
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  if (status == 416) {
    abort_ = RangeNotSatisfiable();  // the page that comes with it is no matter
    return false;
  }
  if (status >= 400) {
    abort_ = AttemptEnd{status >= 500 ? Verdict::kRetry : Verdict::kFailDiscard,
                        "HTTP " + std::to_string(status)};
    return false;
  }
  curl_off_t length = -1;
  curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (status == 206) {
    const ContentRange range = ParseContentRange(contentRange_);
    if (range.first != offset_) {
      abort_ = AttemptEnd{Verdict::kStartOver, "bad Content-Range"};
      return false;
    }
    total_ = range.size.value_or(length > 0 ? offset_ + length : 0);
  } else {
    // The whole song again: what the .part held is replaced, never
    // appended to.
    if (offset_ > 0 && (ftruncate(fd_, static_cast<off_t>(base_)) != 0 ||
                        lseek(fd_, static_cast<off_t>(base_), SEEK_SET) < 0)) {
      abort_ = AttemptEnd{Verdict::kFail, std::strerror(errno)};
      return false;
    }
    offset_ = 0;
    written_ = 0;
    total_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  }
  // A page instead of a song: an error page served with 200, a login wall.
  // Only the start of a song can be told apart; a resumed middle is bytes.
  if (LooksLikePage(contentType_, offset_ == 0 ? first : std::string_view())) {
    abort_ = AttemptEnd{Verdict::kFailDiscard, "not audio"};
    return false;
  }
  return true;
}

bool Attempt::Append(std::string_view bytes) {
  if (maxBytes_ > 0 && written_ + bytes.size() > maxBytes_) {
    abort_ = TooLarge();
    return false;
  }
  while (!bytes.empty()) {
    const ssize_t put = write(fd_, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      abort_ = AttemptEnd{Verdict::kFail, std::strerror(put < 0 ? errno : ENOSPC)};
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
    written_ += static_cast<std::uint64_t>(put);
  }
  Report(false);
  return true;
}

AttemptEnd Attempt::Judge(CURLcode result, const char* errorText) {
  if (abort_)
    return *abort_;
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  if (result == CURLE_OK && !bodyStarted_) {
    if (status == 416)
      return RangeNotSatisfiable();
    if (status >= 400)
      return {status >= 500 ? Verdict::kRetry : Verdict::kFailDiscard,
              "HTTP " + std::to_string(status)};
    if (offset_ == 0 || status != 206)
      return {Verdict::kFailDiscard, "not audio"};  // an empty body
  }
  switch (result) {
    case CURLE_OK:
      return {Verdict::kComplete, {}};
    case CURLE_FILESIZE_EXCEEDED:
      return TooLarge();
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_OUT_OF_MEMORY:
      return {Verdict::kFail, net::WireFailureText(address_, result, errorText)};
    default:
      return {Verdict::kRetry, net::WireFailureText(address_, result, errorText)};
  }
}

// Nothing past the end: done when the .part already holds it all.
AttemptEnd Attempt::RangeNotSatisfiable() const {
  const ContentRange range = ParseContentRange(contentRange_);
  if (range.size && *range.size == offset_ && offset_ > 0)
    return {Verdict::kComplete, {}};
  return {Verdict::kStartOver, "HTTP 416"};
}

void Attempt::Report(bool force) {
  const auto now = Clock::now();
  if (!progress_ || (!force && now - lastReport_ < kProgressEvery))
    return;
  lastReport_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double speed = seconds > 0 ? static_cast<double>(written_ - offset_) / seconds : 0;
  progress_(written_, total_, speed);
}

// Returns false when `stop` fired during the pause.
bool PauseBeforeRetry(std::chrono::milliseconds pause, const std::stop_token& stop) {
  std::mutex mutex;
  std::condition_variable_any never;
  std::unique_lock lock(mutex);
  never.wait_for(lock, stop, pause, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace

namespace {

// Room for the tag ahead of the song (see TagRoom): written into a new
// .part when tags are wanted, recognised in one a run before left.
std::optional<std::uint64_t> PrepareBase(int fd, bool tags) {
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0)
    return std::nullopt;
  if (size > 0) {
    std::string head(kTagRoomBytes, '\0');
    const bool room = pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                      head == TagRoom();
    if (!room || tags)
      return room ? kTagRoomBytes : 0;
    // Saved as served: the room an earlier run left must not stay in front
    // of the song, which starts over.
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
      return std::nullopt;
    return 0;
  }
  if (!tags)
    return 0;
  const std::string room = TagRoom();
  // Until the system says why a write stops short (a full disk, a size
  // limit).
  for (std::string_view rest = room; !rest.empty();) {
    const ssize_t put = write(fd, rest.data(), rest.size());
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0) {
      // Part of a room would pass for song bytes in the next run.
      const int error = put < 0 ? errno : ENOSPC;
      if (ftruncate(fd, 0) == 0)
        errno = error;
      return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(put));
  }
  return kTagRoomBytes;
}

PartOutcome FetchWithRetries(int fd, std::uint64_t base, const std::string& requestAddress,
                             const DownloadOptions& options, const PartProgress& progress,
                             const std::stop_token& stop, bool& discard) {
  int failures = 0;
  for (;;) {
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0)
      return {PartOutcome::kFailed, std::strerror(errno)};
    const auto held = static_cast<std::uint64_t>(size);
    Attempt attempt(fd, base, held > base ? held - base : 0, options.maxFileSize, progress);
    const AttemptEnd end = attempt.Run(requestAddress, options, stop);
    if (stop.stop_requested())
      return {PartOutcome::kStopped, {}};
    switch (end.verdict) {
      case Verdict::kComplete:
        return {PartOutcome::kComplete, {}};
      case Verdict::kFail:
        return {PartOutcome::kFailed, end.error};
      case Verdict::kFailDiscard:
        discard = true;
        return {PartOutcome::kFailed, end.error};
      case Verdict::kStartOver:
        if (ftruncate(fd, static_cast<off_t>(base)) != 0)
          return {PartOutcome::kFailed, std::strerror(errno)};
        // A server that keeps refusing ranges must not loop for ever.
        if (++failures > options.retries + 1)
          return {PartOutcome::kFailed, end.error};
        continue;
      case Verdict::kRetry:
        if (++failures > options.retries)
          return {PartOutcome::kFailed, end.error};
        if (!PauseBeforeRetry(options.retryPause * failures, stop))
          return {PartOutcome::kStopped, {}};
        continue;
    }
  }
}

}  // namespace

PartOutcome FetchIntoPart(const std::string& requestAddress, const std::filesystem::path& part,
                          const DownloadOptions& options, const PartProgress& progress,
                          std::stop_token stop) {
  try {
    net::CheckRequestAddress(requestAddress);
  } catch (const net::InternetError& error) {
    return {PartOutcome::kFailed, error.what()};
  }
  // A song started afresh gets a new file, so that a link planted at the
  // name cannot have its target emptied.
  const FolderFile opened = options.continueParts ? OpenToResume(part) : OpenFresh(part);
  const FileDescriptor& file = opened.fd;
  if (file.get() < 0)
    return {PartOutcome::kFailed, opened.error};
  const std::optional<std::uint64_t> base = PrepareBase(file.get(), options.tags);
  if (!base) {
    const PartOutcome failed{PartOutcome::kFailed, std::strerror(errno)};
    if (lseek(file.get(), 0, SEEK_END) == 0) {
      std::error_code ignored;
      std::filesystem::remove(part, ignored);
    }
    return failed;
  }

  // A song played whole is saved from the player's cache: no second request,
  // however slow or gone the server is by now.
  if (const auto cached = CopyWholeCachedSong(requestAddress, file.get(), *base)) {
    if (progress)
      progress(*cached, *cached, 0);
    return {PartOutcome::kComplete, {}};
  }

  bool discard = false;
  const PartOutcome outcome =
      FetchWithRetries(file.get(), *base, requestAddress, options, progress, stop, discard);
  // Bytes that are not the song's, or none of the song at all, are not worth
  // keeping for the next run.
  const off_t size = lseek(file.get(), 0, SEEK_END);
  if (outcome.kind == PartOutcome::kFailed && (discard || size <= static_cast<off_t>(*base))) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
  }
  return outcome;
}

}  // namespace melo::download
