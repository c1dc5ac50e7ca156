#include "core/download/CachedSong.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/download/Mp3Frames.h"
#include "core/download/SongRequest.h"
#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"
#include "core/net/RequestAddress.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;

// A read this close ahead of the running request waits for it rather than
// starting a request of its own.
constexpr std::uint64_t kReadOnBytes = 8 * 1024;
constexpr auto kReadSlice = std::chrono::milliseconds(100);
// A whole song is counted frame by frame only up to this size.
constexpr std::uint64_t kMaxCountedBytes = std::uint64_t{64} << 20;
// Where an ID3v2 tag naming the length is looked for.
constexpr std::uint64_t kTagBytes = 64 * 1024;

std::string TooLarge(std::uint64_t capBytes) {
  return "the song is larger than the cache (" + std::to_string(capBytes >> 20) + " MiB)";
}

}  // namespace

// One request's reply as its headers and first bytes tell it.
struct CachedSong::Reply {
  Reply(CachedSong& owner, std::uint64_t start, CURL* handle)
      : song(owner), from(start), easy(handle) {}
  CachedSong& song;
  std::uint64_t from;
  CURL* easy = nullptr;
  std::string contentType, contentRange;
  bool acceptsRanges = false;
  bool judged = false;
  bool entire = false;  // a 200: the song from its first byte
  std::uint64_t at = 0;
  std::optional<RequestEnd> abort;
};

CachedSong::CachedSong(std::string requestAddress, DownloadOptions rules, std::uint64_t capBytes)
    : address_(std::move(requestAddress)),
      rules_(std::move(rules)),
      capBytes_(capBytes),
      wholePath_(CachedSongPath(address_)) {
  std::error_code error;
  fs::create_directories(wholePath_.parent_path(), error);
  file_ = FileDescriptor(open(wholePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info {};
  if (file_.get() >= 0 && flock(file_.get(), LOCK_SH) == 0 && fstat(file_.get(), &info) == 0 &&
      S_ISREG(info.st_mode) && info.st_size > 0) {
    futimens(file_.get(), nullptr);  // the cache trims the songs used longest ago
    total_ = static_cast<std::uint64_t>(info.st_size);
    held_.Add(0, *total_);
    started_ = whole_ = true;
    return;
  }
  OpenPart();
  if (!partPath_.empty()) {
    failure_.clear();
    fetcher_ = std::jthread([this](std::stop_token stop) { Fetch(stop); });
  }
}

CachedSong::~CachedSong() {
  CancelReads();
  fetcher_ = {};
  if (!partPath_.empty())  // not fetched whole, or not taken into the cache
    unlink(partPath_.c_str());
}

// A cache folder that cannot be written (a full disk, a read-only home)
// must not keep a song from playing: it is then fetched into a temporary
// file, which goes with the player.
void CachedSong::OpenPart() {
  TrimSongCache(capBytes_);
  const std::string name = wholePath_.stem().string() + ".XXXXXX.part";
  std::error_code noTemp;
  for (const fs::path& folder : {wholePath_.parent_path(), fs::temp_directory_path(noTemp)}) {
    std::string path = (folder / name).string();
    file_ = FileDescriptor(mkostemps(path.data(), 5, O_CLOEXEC));
    if (file_.get() >= 0 && flock(file_.get(), LOCK_SH) == 0) {
      partPath_ = path;
      return;
    }
    if (failure_.empty())
      failure_ = SongCacheFolder().string() + ": " + std::strerror(errno);
  }
}

CachedSong::Start CachedSong::AwaitStart(const std::stop_token& stop,
                                         std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  while (!started_ && failure_.empty()) {
    if (stop.stop_requested())
      return Start::kStopped;
    if (std::chrono::steady_clock::now() >= deadline)
      return Start::kTimedOut;
    changed_.wait_for(lock, kReadSlice);
  }
  return started_ ? Start::kReady : Start::kFailed;
}

std::size_t CachedSong::Read(std::uint64_t offset, char* out, std::size_t length,
                             const std::function<bool()>& abandoned) {
  std::unique_lock lock(mutex_);
  lastRead_ = offset;
  std::uint64_t available = 0;
  for (;;) {
    if (readsCancelled_ || (total_ && offset >= *total_) || (abandoned && abandoned()))
      return 0;
    available = held_.HeldUntil(offset) - offset;
    const bool toTheEnd = total_ && offset + available >= *total_;
    if (available >= length || toTheEnd || !failure_.empty())
      break;
    AskFor(offset + available);
    // Woken by every byte; the slice only bounds a wake that `abandoned` missed.
    changed_.wait_for(lock, kReadSlice);
  }
  lock.unlock();
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(available, length));
  const ssize_t got = count == 0 ? 0 : pread(file_.get(), out, count, static_cast<off_t>(offset));
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// Under the lock: a byte the running request will not reach soon is fetched
// by a request of its own, where the server allows it.
void CachedSong::AskFor(std::uint64_t offset) {
  const bool soon = running_ != nullptr && offset >= cursor_ && offset - cursor_ <= kReadOnBytes;
  if (!takesRanges_ || soon || wanted_ == offset)
    return;
  wanted_ = offset;
  if (running_ != nullptr)
    curl_multi_wakeup(running_);
}

void CachedSong::CancelReads() {
  {
    std::lock_guard lock(mutex_);
    readsCancelled_ = true;
  }
  changed_.notify_all();
}

bool CachedSong::EndsBy(std::uint64_t offset) const {
  std::lock_guard lock(mutex_);
  return total_ && offset >= *total_;
}

std::optional<std::uint64_t> CachedSong::TotalBytes() const {
  std::lock_guard lock(mutex_);
  return total_;
}

bool CachedSong::Whole() const {
  std::lock_guard lock(mutex_);
  return whole_;
}

std::string CachedSong::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::uint64_t CachedSong::WrittenBytes() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::optional<std::int64_t> CachedSong::CountedLengthMs() {
  std::unique_lock lock(mutex_);
  // A tag ahead of the song is read once its first bytes are in.
  const std::uint64_t head = held_.HeldUntil(0);
  if (!tagRead_ && (head >= kTagBytes || whole_)) {
    tagRead_ = true;
    lock.unlock();
    std::string bytes(static_cast<std::size_t>(std::min(head, kTagBytes)), '\0');
    const ssize_t got = pread(file_.get(), bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::optional<std::int64_t> named = Id3LengthMs(bytes);
    lock.lock();
    countedMs_ = named;
  }
  if (!whole_ || countedMs_ || *total_ > kMaxCountedBytes)
    return countedMs_;
  const std::uint64_t size = *total_;
  lock.unlock();
  std::string bytes(size, '\0');
  const ssize_t got = pread(file_.get(), bytes.data(), bytes.size(), 0);
  const auto counted = got == static_cast<ssize_t>(size) ? Mp3PlayingMs(bytes) : std::nullopt;
  lock.lock();
  countedMs_ = counted;
  return countedMs_;
}

void CachedSong::Fetch(std::stop_token stop) {
  int failures = 0;
  while (!stop.stop_requested()) {
    const std::optional<std::uint64_t> from = NextStart();
    if (!from) {
      FinishWhole();
      return;
    }
    const std::uint64_t writtenBefore = WrittenBytes();
    const RequestEnd end = Request(*from, stop);
    if (stop.stop_requested())
      return;
    if (WrittenBytes() > writtenBefore)
      failures = 0;  // each broken transfer that brought bytes gets its own retries
    switch (end.how) {
      case Ended::kBody:
      case Ended::kMovedOn:
        continue;
      case Ended::kFail:
        Fail(end.error);
        return;
      case Ended::kRetry: {
        if (++failures > rules_.retries) {
          Fail(end.error);
          return;
        }
        std::mutex pauseMutex;
        std::condition_variable_any never;
        std::unique_lock pause(pauseMutex);
        never.wait_for(pause, stop, rules_.retryPause * failures, [] { return false; });
        continue;
      }
    }
  }
}

// Where the next request starts: where a read waits, else the first gap
// after the last read, else the first gap; nothing when the song is whole.
// A server without Range sends the song from its start every time.
std::optional<std::uint64_t> CachedSong::NextStart() {
  std::lock_guard lock(mutex_);
  const std::optional<std::uint64_t> wanted = std::exchange(wanted_, std::nullopt);
  const std::optional<std::uint64_t> firstGap = held_.FirstGap(0, total_);
  if (!firstGap)
    return std::nullopt;
  if (!takesRanges_)
    return 0;
  if (wanted && held_.HeldUntil(*wanted) == *wanted)
    return wanted;
  return held_.FirstGap(lastRead_, total_).value_or(*firstGap);
}

CachedSong::RequestEnd CachedSong::Request(std::uint64_t from, const std::stop_token& stop) {
  net::MultiHandle multi = net::AcquireThreadMulti();
  net::EasyHandle easy(curl_easy_init());
  if (!multi || !easy)
    return {Ended::kFail, curl_easy_strerror(CURLE_OUT_OF_MEMORY)};
  Reply reply(*this, from, easy.get());
  char errorText[CURL_ERROR_SIZE] = {};
  const std::string range = std::to_string(from) + "-";
  try {
    ApplySongRequestRules(easy.get(), address_, rules_, errorText);
    if (from > 0 && curl_easy_setopt(easy.get(), CURLOPT_RANGE, range.c_str()) != CURLE_OK)
      throw net::InternetError("cannot ask for a range");
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &CachedSong::OnBody);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(easy.get(), CURLOPT_HEADERFUNCTION, &CachedSong::OnHeader);
    curl_easy_setopt(easy.get(), CURLOPT_HEADERDATA, &reply);
  } catch (const net::InternetError& error) {
    return {Ended::kFail, error.what()};
  }
  if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK)
    return {Ended::kFail, curl_easy_strerror(CURLE_OUT_OF_MEMORY)};
  {
    std::lock_guard lock(mutex_);
    running_ = multi.get();
    cursor_ = from;
  }
  // A read that waits beyond this request's reach ends it: the next one
  // starts there.
  const std::optional<CURLcode> result = PumpSongRequest(multi.get(), stop, [&] {
    std::lock_guard lock(mutex_);
    return wanted_.has_value();
  });
  {
    std::lock_guard lock(mutex_);
    running_ = nullptr;
  }
  curl_multi_remove_handle(multi.get(), easy.get());
  net::ReleaseThreadMulti(std::move(multi));
  if (reply.abort)
    return *reply.abort;
  if (!result)
    return {Ended::kMovedOn, {}};  // stopped, or wanted elsewhere
  return JudgeEnd(reply, *result, errorText);
}

std::size_t CachedSong::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto& reply = *static_cast<Reply*>(self);
  const std::string_view line(data, size * count);
  // Every reply of a redirect chain starts its own headers.
  if (StartsWithNoCase(line, "HTTP/")) {
    reply.contentType.clear();
    reply.contentRange.clear();
    reply.acceptsRanges = false;
  } else if (StartsWithNoCase(line, "Content-Type:")) {
    reply.contentType = HeaderValue(line, "Content-Type:");
  } else if (StartsWithNoCase(line, "Content-Range:")) {
    reply.contentRange = HeaderValue(line, "Content-Range:");
  } else if (StartsWithNoCase(line, "Accept-Ranges:")) {
    reply.acceptsRanges = StartsWithNoCase(HeaderValue(line, "Accept-Ranges:"), "bytes");
  }
  return size * count;
}

std::size_t CachedSong::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto& reply = *static_cast<Reply*>(self);
  const std::string_view bytes(data, size * count);
  if (!reply.judged) {
    reply.judged = true;
    if (!reply.song.JudgeReply(reply, bytes))
      return 0;  // curl ends the transfer with a write error
  }
  return reply.song.TakeBody(reply, bytes) ? bytes.size() : 0;
}

// Decides from the headers and the first bytes whether the reply is the
// song, and from which byte.
bool CachedSong::JudgeReply(Reply& reply, std::string_view first) {
  long status = 0;
  curl_easy_getinfo(reply.easy, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t length = -1;
  curl_easy_getinfo(reply.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  std::lock_guard lock(mutex_);
  if (status >= 400) {
    reply.abort =
        RequestEnd{status >= 500 ? Ended::kRetry : Ended::kFail, "HTTP " + std::to_string(status)};
    return false;
  }
  std::optional<std::uint64_t> size;
  if (status == 206) {
    const ContentRange range = ParseContentRange(reply.contentRange);
    if (range.first != reply.from) {
      reply.abort = RequestEnd{Ended::kRetry, "bad Content-Range"};
      takesRanges_ = false;
      return false;
    }
    takesRanges_ = true;
    size = range.size;
    reply.at = reply.from;
  } else {
    // The whole song again (a server that ignored the range): bytes held
    // already are passed over, not written twice.
    reply.entire = true;
    takesRanges_ = reply.acceptsRanges && reply.from == 0;
    if (length > 0)
      size = static_cast<std::uint64_t>(length);
    reply.at = 0;
  }
  if (LooksLikePage(reply.contentType, reply.at == 0 ? first : std::string_view())) {
    reply.abort = RequestEnd{Ended::kFail, "not audio"};
    return false;
  }
  if (size && *size > capBytes_) {
    reply.abort = RequestEnd{Ended::kFail, TooLarge(capBytes_)};
    return false;
  }
  if (size && !total_)
    total_ = size;
  return true;
}

// Writes what is not held yet; false to end the request.
bool CachedSong::TakeBody(Reply& reply, std::string_view bytes) {
  std::unique_lock lock(mutex_);
  while (!bytes.empty()) {
    const std::uint64_t heldUntil = held_.HeldUntil(reply.at);
    if (heldUntil > reply.at) {
      // Reached bytes held already: where the server sends parts, the next
      // gap is asked for directly.
      if (takesRanges_) {
        reply.abort = RequestEnd{Ended::kMovedOn, {}};
        return false;
      }
      const auto skip = std::min<std::uint64_t>(bytes.size(), heldUntil - reply.at);
      bytes.remove_prefix(static_cast<std::size_t>(skip));
      reply.at += skip;
      continue;
    }
    const std::uint64_t nextHeld =
        held_.NextHeld(reply.at).value_or(std::numeric_limits<std::uint64_t>::max());
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), nextHeld - reply.at));
    if (reply.at + count > capBytes_) {
      reply.abort = RequestEnd{Ended::kFail, TooLarge(capBytes_)};
      return false;
    }
    const ssize_t put = pwrite(file_.get(), bytes.data(), count, static_cast<off_t>(reply.at));
    if (put <= 0) {
      reply.abort = RequestEnd{Ended::kFail, std::strerror(put < 0 ? errno : ENOSPC)};
      return false;
    }
    held_.Add(reply.at, reply.at + static_cast<std::uint64_t>(put));
    written_ += static_cast<std::uint64_t>(put);
    reply.at += static_cast<std::uint64_t>(put);
    bytes.remove_prefix(static_cast<std::size_t>(put));
    started_ = true;
  }
  cursor_ = reply.at;
  lock.unlock();
  changed_.notify_all();
  return true;
}

CachedSong::RequestEnd CachedSong::JudgeEnd(const Reply& reply, int curlResult,
                                            const char* errorText) {
  const auto result = static_cast<CURLcode>(curlResult);
  long status = 0;
  curl_easy_getinfo(reply.easy, CURLINFO_RESPONSE_CODE, &status);
  const std::string curlText = net::WireFailureText(address_, result, errorText);
  if (result == CURLE_OK) {
    if (!reply.judged && status >= 400)
      return {status >= 500 ? Ended::kRetry : Ended::kFail, "HTTP " + std::to_string(status)};
    std::lock_guard lock(mutex_);
    if (!reply.judged && status == 416 && total_ && reply.from >= *total_)
      return {Ended::kBody, {}};
    if (!reply.judged && reply.from == 0)
      return {Ended::kFail, "not audio"};  // an empty body
    if (!total_)
      total_ = reply.judged ? reply.at : reply.from;  // sent without its size: its end tells it
    return {Ended::kBody, {}};
  }
  switch (result) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return {Ended::kFail, curlText};
    case CURLE_OPERATION_TIMEDOUT:
      return {Ended::kRetry, "connection lost; the server stopped sending (" + curlText + ")"};
    default:
      return {Ended::kRetry, reply.judged ? "connection lost (" + curlText + ")" : curlText};
  }
}

void CachedSong::Fail(std::string reason) {
  {
    std::lock_guard lock(mutex_);
    failure_ = std::move(reason);
  }
  changed_.notify_all();
}

// The file becomes the cache's whole copy; the lock on it stays.
void CachedSong::FinishWhole() {
  {
    std::lock_guard lock(mutex_);
    if (rename(partPath_.c_str(), wholePath_.c_str()) == 0)
      partPath_.clear();
    whole_ = true;
    started_ = true;
  }
  changed_.notify_all();
}

}  // namespace melo::download
