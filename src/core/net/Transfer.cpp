#include "core/net/Transfer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/net/HeaderText.h"
#include "core/net/RequestAddress.h"

namespace melo::net {
namespace {

// Large enough that a big page takes few socket reads (16 MiB read as fast as
// with the curl tool's 100 KB), and small enough that with a page's text it
// stays under the 128 KB the C library keeps free at the top of its heap.
// With 100 KB, where nothing happened to lie above them, every page of a
// crawl gave that memory back to the system at its end and took it again at
// its next one's first byte, to be zeroed afresh: 518 brk calls and twice the
// page faults for 200 pages, some 15% of a crawl's processor time.
constexpr long kReceiveBufferBytes = 64 * 1024;
// One pump of the multi handle reads for as long as the socket has data; past
// this many unread bytes the transfer pauses, so that a fast server does not
// make the pending bytes grow (and be copied and faulted in) by megabytes.
constexpr std::size_t kMaxPendingBytes = 512 * 1024;
// Received bytes go into the page buffer, and through the line rule, only
// up to this many beyond the unread ones until the reader asks for more: a
// reader that stops at a line near the top of a page (a song page's media
// line) has not paid for joining the rest of it. The rest is still read off
// the socket, so that the connection is free for the next page.
constexpr std::size_t kFirstJoinWindow = 4 * 1024;
// At most this many bytes wait so; past them the page is a long one, and all
// of it is joined as it arrives.
constexpr std::size_t kMostHeldBytes = 64 * 1024;
// Stop requests wake the poll at once; the slice only bounds how late the
// stall check can run.
constexpr std::chrono::milliseconds kPollSlice{100};
// How often a group looks for a place for a connection refused one: places
// held by its own transfers free up as they are pumped, those of other
// threads by themselves.
constexpr std::chrono::milliseconds kPlaceRetrySlice{5};

template <typename Value>
void SetOption(CURL* easy, CURLoption option, Value value) {
  const CURLcode rc = curl_easy_setopt(easy, option, value);
  if (rc != CURLE_OK)
    throw InternetError(curl_easy_strerror(rc));
}

}  // namespace

ReaderGroup::ReaderGroup() : members_(std::make_unique<Members>()) {
  members_->multi = AcquireThreadMulti();
}

ReaderGroup::~ReaderGroup() {
  ReleaseThreadMulti(std::move(members_->multi));
}

bool ReaderGroup::Members::RetryRefusedPlaces() const {
  bool any = false;
  for (PageReader::Transfer* transfer : transfers)
    any = transfer->RetryPlace() || any;
  return any;
}

bool ReaderGroup::Members::AnyAwaitingPlace() const {
  return std::ranges::any_of(transfers, &PageReader::Transfer::AwaitingPlace);
}

PageReader::Transfer::Transfer(const std::string& requestAddress, ReaderTimeouts timeouts,
                               std::stop_token stop, PageBuffer& body, ReaderGroup::Members* group)
    : requestAddress_(requestAddress),
      timeouts_(timeouts),
      stop_(std::move(stop)),
      started_(Clock::now()),
      attempts_(stop_),
      group_(group),
      ownMulti_(group ? MultiHandle() : AcquireThreadMulti()),
      multi_(group ? group->multi.get() : ownMulti_.get()),
      easy_(curl_easy_init()),
      body_(body),
      lastByte_(Clock::now()) {
  if (!multi_ || !easy_)
    throw InternetError(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
  CURL* easy = easy_.get();
  SetOption(easy, CURLOPT_PRIVATE, static_cast<void*>(this));
  SetOption(easy, CURLOPT_ERRORBUFFER, errorText_);
  SetOption(easy, CURLOPT_URL, requestAddress.c_str());
  SetWireRules(easy, requestAddress);
  SetOption(easy, CURLOPT_USERAGENT, CurrentUserAgent().c_str());
  SetOption(easy, CURLOPT_SHARE, SharedNameCache());
  SetOption(easy, CURLOPT_NOSIGNAL, 1L);
  // A stop during a slow name lookup must not wait for the lookup thread.
  SetOption(easy, CURLOPT_QUICK_EXIT, 1L);
  SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
  SetOption(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  // A proxy's CONNECT reply must not pass for the page's own headers.
  SetOption(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  SetOption(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  SetOption(easy, CURLOPT_WRITEDATA, this);
  SetOption(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  SetOption(easy, CURLOPT_HEADERDATA, this);
  if (const CURLcode rc = attempts_.Attach(easy); rc != CURLE_OK)
    throw InternetError(curl_easy_strerror(rc));
  if (group_)
    attempts_.TakePlacesWithoutWaiting();

  const CURLMcode rc = curl_multi_add_handle(multi_, easy);
  if (rc != CURLM_OK)
    throw InternetError(curl_multi_strerror(rc));
  attached_ = true;
  wakeOnStop_.emplace(stop_, WakeOnStop{multi_});
  if (group_)
    group_->transfers.push_back(this);
}

PageReader::Transfer::~Transfer() {
  // The wake-up must be gone before the multi handle it points at.
  wakeOnStop_.reset();
  if (attached_)
    curl_multi_remove_handle(multi_, easy_.get());
  if (group_)
    std::erase(group_->transfers, this);
  else
    ReleaseThreadMulti(std::move(ownMulti_));
}

void PageReader::Transfer::AwaitReplyStart() {
  PumpUntil([this] { return replyStarted_; });
  if (!replyStarted_ && result_ != CURLE_OK) {
    if (stop_.stop_requested())  // a connect given up for the stop
      throw TransferStopped();
    ThrowFailure();
  }
}

bool PageReader::Transfer::AwaitBody() {
  if (body_.UnreadBytes() == 0 && held_.empty())
    PumpUntil([this] { return body_.UnreadBytes() > 0 || !held_.empty(); });
  if (body_.UnreadBytes() == 0 && !held_.empty())
    JoinHeld();
  if (body_.UnreadBytes() > 0)
    return true;
  if (result_ != CURLE_OK)
    ThrowFailure();
  return false;
}

std::size_t PageReader::Transfer::AnnouncedBodyBytes() const {
  curl_off_t bytes = -1;
  curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &bytes);
  return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

long PageReader::Transfer::HttpStatus() const {
  long status = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  return status;
}

template <typename Ready>
void PageReader::Transfer::PumpUntil(Ready ready) {
  const Clock::time_point waitStart = Clock::now();
  for (;;) {
    if (stop_.stop_requested())
      throw TransferStopped();
    if (paused_) {
      // Hands over the bytes held back at the pause, then reads on.
      paused_ = false;
      const CURLcode rc = curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
      if (rc != CURLE_OK)
        throw InternetError(curl_easy_strerror(rc));
      if (ready())
        return;
    }
    int running = 0;
    const CURLMcode rc = curl_multi_perform(multi_, &running);
    if (rc != CURLM_OK)
      throw InternetError(curl_multi_strerror(rc));
    CollectResult();
    // Places the pump freed (replies begun or done) go to the refused at
    // once, and their connections start before this reader goes on with its
    // page: the server takes them meanwhile.
    const bool retried = group_ && group_->RetryRefusedPlaces();
    if (finished_ || ready()) {
      if (retried)
        curl_multi_perform(multi_, &running);  // a failure shows at the next pump
      return;
    }
    if (retried)
      continue;

    // Time spent by the caller between reads is not a stall of the server,
    // nor is time spent waiting for a place of it.
    const auto quiet = Clock::now() - std::max(lastByte_, waitStart);
    if (quiet >= timeouts_.stall && !awaitingPlace_) {
      throw InternetError(std::string(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)) +
                          ": no data received for " + std::to_string(timeouts_.stall.count()) +
                          " ms");
    }
    if (attempts_.Stalled(Clock::now())) {
      RestartStalledConnect();
      continue;
    }
    // While the transfer waits for a place its stall clock is off, and the
    // slice must not go by it (past it, it would be negative: no wait at all).
    Clock::duration slice = kPollSlice;
    if (!awaitingPlace_)
      slice = std::min<Clock::duration>(slice, timeouts_.stall - quiet);
    slice = std::max<Clock::duration>(slice, Clock::duration::zero());
    if (const auto check = attempts_.NextCheck())
      slice = std::clamp<Clock::duration>(*check - Clock::now(), Clock::duration::zero(), slice);
    if (group_ && group_->AnyAwaitingPlace())
      slice = std::min<Clock::duration>(slice, kPlaceRetrySlice);
    const auto sliceMs = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(sliceMs), nullptr);
  }
}

// Nothing of the reply has arrived yet: taken off and put back, the handle
// starts over with a new attempt, within what is left of the connect time.
void PageReader::Transfer::RestartStalledConnect() {
  curl_multi_remove_handle(multi_, easy_.get());
  attached_ = false;
  Reattach(std::chrono::duration_cast<std::chrono::milliseconds>(timeouts_.connect -
                                                                 (Clock::now() - started_)));
  attempts_.Restarted();
}

// The wait for a place was no part of the connect: it gets its whole time.
// Pumped for another reader of the group, a failure here is this one's.
bool PageReader::Transfer::RetryPlace() {
  if (!awaitingPlace_ || !attempts_.TakeRefusedPlace())
    return false;
  awaitingPlace_ = false;
  started_ = lastByte_ = Clock::now();
  try {
    Reattach(timeouts_.connect);
  } catch (const InternetError&) {
    finished_ = true;
    result_ = CURLE_OUT_OF_MEMORY;
    attempts_.Done();
  }
  return true;
}

void PageReader::Transfer::Reattach(std::chrono::milliseconds connectTime) {
  SetOption(easy_.get(), CURLOPT_CONNECTTIMEOUT_MS, std::max<long>(1, connectTime.count()));
  const CURLMcode rc = curl_multi_add_handle(multi_, easy_.get());
  if (rc != CURLM_OK)
    throw InternetError(curl_multi_strerror(rc));
  attached_ = true;
}

// In a group, the message may be for any transfer of it.
void PageReader::Transfer::CollectResult() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE)
      continue;
    char* owner = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
    reinterpret_cast<Transfer*>(owner)->Done(message->data.result);
  }
}

void PageReader::Transfer::Done(CURLcode result) {
  // Only an attempt that never got a connection is started again: one that
  // got one at another address of the server failed on its own, and may
  // have delivered bytes already.
  if (result != CURLE_OK && attempts_.PlaceRefused() && !attempts_.EverConnected() &&
      !stop_.stop_requested()) {
    curl_multi_remove_handle(multi_, easy_.get());
    attached_ = false;
    awaitingPlace_ = true;
    return;
  }
  finished_ = true;
  result_ = result;
  attempts_.Done();
}

// The last byte the server announced is in: its connection no longer holds
// up the next one, though curl is yet to wind the transfer up.
void PageReader::Transfer::NoteBodyBytes() {
  curl_off_t received = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_DOWNLOAD_T, &received);
  const std::size_t announced = AnnouncedBodyBytes();
  if (announced > 0 && static_cast<std::size_t>(received) >= announced)
    attempts_.Done();
}

void PageReader::Transfer::ThrowFailure() const {
  throw InternetError(WireFailureText(requestAddress_, result_, errorText_));
}

std::size_t PageReader::Transfer::OnBody(char* data, std::size_t size, std::size_t count,
                                         void* self) {
  auto& transfer = *static_cast<Transfer*>(self);
  transfer.lastByte_ = Clock::now();
  transfer.replyStarted_ = true;
  if (transfer.body_.UnreadBytes() + transfer.held_.size() >= kMaxPendingBytes) {
    transfer.paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  transfer.Receive(std::string_view(data, size * count));
  transfer.NoteBodyBytes();
  return size * count;
}

// While the join window lasts, what fits in it beside the unread bytes goes
// into the page now and the rest is held for the reader to ask for.
void PageReader::Transfer::Receive(std::string_view received) {
  if (!joinAll_) {
    const std::size_t unread = body_.UnreadBytes();
    const std::size_t room =
        held_.empty() && kFirstJoinWindow > unread ? kFirstJoinWindow - unread : 0;
    const std::size_t now = std::min(received.size(), room);
    if (held_.size() + received.size() - now <= kMostHeldBytes) {
      if (now > 0)
        body_.Append(received.substr(0, now));
      held_.insert(held_.end(), received.begin() + static_cast<std::ptrdiff_t>(now),
                   received.end());
      return;
    }
    JoinHeld();
  }
  body_.Append(received);
}

void PageReader::Transfer::JoinHeld() {
  if (!held_.empty())
    body_.Append(std::string_view(held_.data(), held_.size()));
  held_.clear();
  joinAll_ = true;
}

std::size_t PageReader::Transfer::OnHeader(char* data, std::size_t size, std::size_t count,
                                           void* self) {
  auto& transfer = *static_cast<Transfer*>(self);
  transfer.lastByte_ = Clock::now();
  transfer.attempts_.Answered();
  transfer.NoteHeaderLine(std::string_view(data, size * count));
  return size * count;
}

// The reply has started with the end of a final header block: not an
// interim 1xx, and not a redirect that curl is about to follow.
void PageReader::Transfer::NoteHeaderLine(std::string_view header) {
  connection_.NoteHeaderLine(header);
  if (StartsWithNoCase(header, "HTTP/")) {
    redirectAnnounced_ = false;
  } else if (StartsWithNoCase(header, "Location:")) {
    redirectAnnounced_ = true;
  } else if (header == "\r\n" || header == "\n") {
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    const bool followed = redirectAnnounced_ && status >= 300 && status < 400;
    redirected_ = redirected_ || followed;
    if (status >= 200 && !followed) {
      replyStarted_ = true;
      attempts_.ReplyHeadEnded(connection_.Closes());
      if (!redirected_)
        attempts_.AnsweredFor(requestAddress_);
      // Sized before the first byte of the body: a page that announced its
      // length is never copied to a larger buffer.
      body_.Reserve(std::min(AnnouncedBodyBytes(), kMaxPageBytes));
    }
  }
}

}  // namespace melo::net
