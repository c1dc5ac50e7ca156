#pragma once
// One GET in flight, pumped by its reader's own thread, its body going into
// the reader's page buffer. Bytes are only pulled from the socket while the
// reader waits for more, so a page that is not read stays with the server
// (TCP flow control) instead of piling up here.

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

struct PageReader::Transfer {
  Transfer(const std::string& requestAddress, ReaderTimeouts timeouts, std::stop_token stop,
           PageBuffer& body);
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
  void CollectResult();
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
  MultiHandle multi_;
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
  CURLcode result_ = CURLE_OK;
};

}  // namespace melo::net
