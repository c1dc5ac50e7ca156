#pragma once
// How a transfer opens its connections. A few at a time to one server: a
// server with a small listen backlog drops the connection attempts beyond
// those it has not yet accepted, and the kernel sends a dropped SYN again only
// after a second. A new connection counts until the server has answered on
// it, since only then is it known to be accepted. And on loopback, where an
// attempt completes within microseconds, one still unanswered after a short
// while is made again at once.

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace melo::net {

// New connections to one server address not yet answered, at the same time.
inline constexpr int kMaxConnectingPerServer = 4;
// An attempt on loopback not completed after this long was dropped.
inline constexpr std::chrono::milliseconds kLoopbackConnectPatience{200};

// Takes one of the kMaxConnectingPerServer places of `server` (an address
// and port), waiting for one to be free; false when `stop` fires first.
// Waiters are served in turn, and a freed place wakes only the next of them.
bool TakeServerPlace(const std::string& server, std::stop_token stop);

// Owns a place that TakeServerPlace took, and gives it back.
class ServerSlot {
 public:
  explicit ServerSlot(std::string server) : server_(std::move(server)) {}
  ~ServerSlot();
  ServerSlot(const ServerSlot&) = delete;
  ServerSlot& operator=(const ServerSlot&) = delete;

 private:
  std::string server_;
};

// The connection attempts of one easy handle, through curl's socket
// callbacks. Lives as long as the handle.
class ConnectAttempts {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ConnectAttempts(std::stop_token stop) : stop_(std::move(stop)) {}
  ~ConnectAttempts();
  ConnectAttempts(const ConnectAttempts&) = delete;
  ConnectAttempts& operator=(const ConnectAttempts&) = delete;

  // Installs the callbacks; returns curl's result of the first that fails.
  CURLcode Attach(CURL* easy);

  // Whether the attempt under way is on loopback and still unanswered after
  // its patience: the owner should start the transfer again.
  bool Stalled(Clock::time_point now) const;
  // Until when the owner may wait before asking Stalled again.
  std::optional<Clock::time_point> NextCheck() const;
  // The owner took the handle off its multi handle and put it back.
  void Restarted();
  // The server has begun its reply: the connection is accepted.
  void Answered() { slot_.reset(); }

 private:
  static curl_socket_t OnOpen(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int OnClose(void* self, curl_socket_t socket);
  static int OnConnected(void* self, char*, char*, int, int);

  Clock::duration Patience() const;
  void Forget(curl_socket_t socket);

  std::stop_token stop_;
  std::optional<ServerSlot> slot_;  // held until a new connection is answered
  // The sockets of the attempt under way (two while curl tries both address
  // families), until curl closes them.
  std::vector<curl_socket_t> sockets_;
  bool loopback_ = false;
  bool connected_ = false;
  int restarts_ = 0;
  Clock::time_point attemptStart_;
};

}  // namespace melo::net
