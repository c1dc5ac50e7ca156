#pragma once
// A loopback server that hands each connection to a test's own function, for
// replies that must be byte-exact, slow, endless or never come.

#include <atomic>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace melo::net::testing {

class RawServer {
 public:
  // Runs on a thread of its own for every accepted connection; the socket
  // is closed when it returns. Sockets still open when the server goes are
  // shut down, so a handler blocked on them returns.
  using Handler = std::function<void(int socket, std::stop_token stop)>;

  explicit RawServer(Handler handler);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  std::string Address(std::string_view path = "/") const;
  int connections() const { return connections_.load(); }

 private:
  void AcceptLoop(std::stop_token stop);

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<int> openSockets_;
  std::vector<std::jthread> sessions_;
  std::jthread acceptor_;
};

// The request head up to its blank line; "" when the peer closed first.
std::string ReadRequest(int socket);
// The path of the request line in `request`.
std::string RequestPath(std::string_view request);
// false once the peer is gone.
bool SendAll(int socket, std::string_view bytes);
// Holds the connection open, silent, until the peer closes or `stop`.
void WaitForPeerClose(int socket, std::stop_token stop);
// "HTTP/1.1 <status>" with a Content-Length, extra header lines and `body`.
std::string Reply(std::string_view body, std::string_view status = "200 OK",
                  std::string_view headers = "");
// A port on 127.0.0.1 that nothing listens on.
int UnusedPort();

}  // namespace melo::net::testing
