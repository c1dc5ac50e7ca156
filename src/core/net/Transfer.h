#pragma once
// One GET in flight, pumped by its reader's own thread, its body going into
// the reader's page buffer. Bytes are only pulled from the socket while the
// reader (or, in a group, any reader of the group) waits for more, so a page
// that is not read stays with the server (TCP flow control) instead of
// piling up here.

#include <chrono>
#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/ConnectAttempts.h"
#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"

namespace melo::net {

// The transfers of a group share one multi handle, and with it its
// connections. Each of them may be pumped by any other.
struct ReaderGroup::Members {
  MultiHandle multi;
  std::vector<PageReader::Transfer*> transfers;

  // Starts again every transfer whose connection was refused a place, if
  // one is free now; whether any was.
  bool RetryRefusedPlaces() const;
  bool AnyAwaitingPlace() const;
};

struct PageReader::Transfer {
  // In `group` when not null, else alone on the thread's own multi handle.
  Transfer(const std::string& requestAddress, ReaderTimeouts timeouts, std::stop_token stop,
           PageBuffer& body, ReaderGroup::Members* group);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Returns once the final reply's headers are in (or its body, or its end).
  void AwaitReplyStart();
  // Returns false at the end of the body; otherwise the page buffer holds
  // unread bytes.
  bool AwaitBody();

  // The body size the server announced, 0 when it did not.
  std::size_t AnnouncedBodyBytes() const;
  // The final reply's HTTP status, 0 when there is none yet.
  long HttpStatus() const;

  // In a group no connection waits for a server place, since the group's
  // own transfers may hold them all: one refused is started again when a
  // place is free.
  bool AwaitingPlace() const { return awaitingPlace_; }
  // Whether it started again.
  bool RetryPlace();

 private:
  using Clock = std::chrono::steady_clock;

  struct WakeOnStop {
    CURLM* multi;
    void operator()() const noexcept { curl_multi_wakeup(multi); }
  };

  template <typename Ready>
  void PumpUntil(Ready ready);
  void PumpOnce(Clock::time_point& quietSince);
  void RestartStalledConnect();
  // Puts the handle back on the multi handle, with `connectTime` to connect.
  void Reattach(std::chrono::milliseconds connectTime);
  void CollectResult();
  void Done(CURLcode result);
  [[noreturn]] void ThrowFailure() const;

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  void NoteHeaderLine(std::string_view header);
  void NoteBodyBytes();
  void Receive(std::string_view received);
  // Joins every held byte into the page, and from then on every byte as it
  // arrives.
  void JoinHeld();

  std::string requestAddress_;
  ReaderTimeouts timeouts_;
  std::stop_token stop_;
  Clock::time_point started_;
  ConnectAttempts attempts_;  // outlives the handle's removal from multi_
  ReaderGroup::Members* group_;
  MultiHandle ownMulti_;  // when in no group
  CURLM* multi_;
  EasyHandle easy_;
  bool attached_ = false;
  std::optional<std::stop_callback<WakeOnStop>> wakeOnStop_;

  char errorText_[CURL_ERROR_SIZE] = {};
  PageBuffer& body_;
  // Body bytes received past the join window, not yet in body_.
  std::vector<char> held_;
  bool joinAll_ = false;  // the join window is over
  Clock::time_point lastByte_;
  bool replyStarted_ = false;
  bool redirectAnnounced_ = false;
  bool redirected_ = false;  // a redirect was followed
  ReplyConnection connection_;
  bool paused_ = false;  // by OnBody, with bytes held back by curl
  bool finished_ = false;
  bool awaitingPlace_ = false;
  CURLcode result_ = CURLE_OK;
};

}  // namespace melo::net
