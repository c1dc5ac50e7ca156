#pragma once
// How a transfer opens its connections: each new one takes a place of its
// server (ServerPlaces.h) first. And on loopback, where an attempt completes
// within microseconds, one still unanswered after a short while is made
// again at once.

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/ServerPlaces.h"

namespace melo::net {

// An attempt on loopback not completed after this long was dropped.
inline constexpr std::chrono::milliseconds kLoopbackConnectPatience{200};

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
  void Answered();
  // The reply's head is complete; whether it said the connection ends with it.
  void ReplyHeadEnded(bool closesConnection);
  // The final reply came from the server `address` itself leads to, on a
  // connection opened for it.
  void AnsweredFor(std::string_view address);
  // The transfer is over: its connection no longer holds up the next one.
  void Done() { slot_.reset(); }

  // For a thread whose own transfers may hold every place of a server: a new
  // connection never waits for one, its attempt is refused when none is free
  // (curl fails it), and PlaceRefused says so until TakeRefusedPlace.
  void TakePlacesWithoutWaiting() { waitForPlace_ = false; }
  bool PlaceRefused() const { return placeRefused_; }
  // Whether any attempt of the transfer got a connection (at any address).
  bool EverConnected() const { return everConnected_; }
  // Takes a place for the refused attempt if one is free now; the owner then
  // starts the transfer again.
  bool TakeRefusedPlace();

 private:
  static curl_socket_t OnOpen(void* self, curlsocktype purpose, curl_sockaddr* address);
  static int OnClose(void* self, curl_socket_t socket);
  static int OnConnected(void* self, char*, char*, int, int);
  static int OnSocketOptions(void* self, curl_socket_t socket, curlsocktype purpose);

  // Takes a place of `server` for a new connection, and the connection the
  // thread that handed it over opened, if any; false when stopped first.
  bool TakePlace(const std::string& server, const curl_sockaddr& address, bool loopback);
  Clock::duration Patience() const;
  void Forget(curl_socket_t socket);

  std::stop_token stop_;
  std::optional<ServerSlot> slot_;                // held while a new connection's transfer lasts
  std::string openedServer_;                      // where the latest socket went
  std::string refusedServer_;                     // the first that had no place for it
  curl_socket_t preConnected_ = CURL_SOCKET_BAD;  // opened by the thread that handed the place over
  // The sockets of the attempt under way (two while curl tries both address
  // families), until curl closes them.
  std::vector<curl_socket_t> sockets_;
  bool loopback_ = false;
  bool connected_ = false;
  bool waitForPlace_ = true;
  bool placeRefused_ = false;
  bool everConnected_ = false;
  int restarts_ = 0;
  Clock::time_point attemptStart_;
};

}  // namespace melo::net
