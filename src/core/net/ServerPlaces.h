#pragma once
// How many new connections one server gets at once, shared by every reader
// of the process.
// - A server with a small listen backlog drops the connection attempts beyond
//   those it has not yet accepted, and the kernel sends a dropped SYN again
//   only after a second: at most kMaxConnectingPerServer connections to a
//   server are unanswered at a time.
// - A server that closes every connection after one reply and answers within
//   kOneAtATimePatience is most often one that serves one request at a
//   time (a small script, HTTP/1.0): requests sent in parallel only queue
//   there, and cost it more the more there are. Its next connection waits
//   for the one in progress, but no longer than that patience. The thread
//   that ends the one in progress opens the next connection at once, so the
//   server accepts it while the reader it is for wakes up. A slower server
//   gains from connections side by side, and gets them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace melo::net {

// New connections to one server address not yet answered, at the same time.
inline constexpr int kMaxConnectingPerServer = 4;
// How long a connection to a one-at-a-time server keeps the next waiting.
inline constexpr std::chrono::microseconds kOneAtATimePatience{2000};

// One connection that holds a place, as the rule sees it.
struct PlaceHolder {
  std::chrono::steady_clock::time_point since;
  bool answered = false;
  std::uint64_t ticket = 0;  // which ServerSlot holds it
};

// Whether a new connection may open now beside `holders`, and if not, the
// time at which waiting for the holders ends by itself (none: until one of
// them is answered or done).
struct PlaceVerdict {
  bool free = false;
  std::optional<std::chrono::steady_clock::time_point> retryAt;
};
PlaceVerdict JudgePlace(std::span<const PlaceHolder> holders, bool oneAtATime,
                        std::chrono::steady_clock::time_point now);

// A place of a server (an address and port), taken by TakeServerPlace; given
// back when the connection is done with (or its transfer gone).
class ServerSlot {
 public:
  ServerSlot(std::string server, std::uint64_t ticket)
      : server_(std::move(server)), ticket_(ticket) {}
  ~ServerSlot() { GiveBack(); }
  ServerSlot(ServerSlot&& other) noexcept
      : server_(std::move(other.server_)), ticket_(std::exchange(other.ticket_, 0)) {}
  ServerSlot& operator=(ServerSlot&& other) noexcept;

  const std::string& server() const { return server_; }
  // The server has begun its reply: the connection is accepted.
  void Answered();

 private:
  void GiveBack() noexcept;

  std::string server_;
  std::uint64_t ticket_;  // 0 once given back or moved from
};

// A place taken, and the connection the thread that handed it over already
// opened with `openConnection` (-1 when it did not).
struct TakenPlace {
  ServerSlot slot;
  int openedSocket = -1;
};

// Waits for a place of `server`; nothing when `stop` fires first. Waiters
// are served in turn, and a freed place wakes only the next of them. The
// place of a one-at-a-time server is handed over by the thread that frees
// it, which also opens the connection with `openConnection` (returning a
// socket whose connect is under way, or -1): the server accepts it while
// the waiter wakes.
std::optional<TakenPlace> TakeServerPlace(const std::string& server, std::stop_token stop,
                                          std::function<int()> openConnection = {});

// A place of `server` if one is free now and no one waits for it before:
// for a thread that cannot wait, since its own transfers may hold the places.
std::optional<ServerSlot> TryTakeServerPlace(const std::string& server);

// What a reply on a new connection to `server` said about that connection.
void NoteServerClosesConnections(const std::string& server, bool closes);

// The server that a reply to `address` came from, on a connection opened for
// it: pages of the same scheme, host and port are taken to come from there.
void NoteAddressServer(std::string_view address, const std::string& server);
// How the server that pages of `address`'s scheme, host and port come from
// takes requests, as far as its replies have shown.
enum class ServerPace { kUnknown, kOneAtATime, kSideBySide };
ServerPace PaceOf(std::string_view address);

// The scheme, host and port of `address` ("http://host:port"), as written.
std::string_view OriginOf(std::string_view address);

// Whether a reply's head says its connection ends with it: HTTP/1.0 unless
// kept alive, or "Connection: close". Fed the head line by line.
class ReplyConnection {
 public:
  void NoteHeaderLine(std::string_view line);
  bool Closes() const { return close_ || (http10_ && !keepAlive_); }

 private:
  bool http10_ = false;
  bool close_ = false;
  bool keepAlive_ = false;
};

}  // namespace melo::net
