#pragma once
// A loopback server that hands each connection to a test's own function, for
// replies that must be byte-exact, slow, endless or never come, and the
// helpers its handlers and tests share.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/net/PageReader.h"

namespace melo::net::testing {

// Short polls, so that a stop is noticed while the peer stays silent.
inline bool WaitReadable(int fd, const std::stop_token& stop) {
  pollfd watch{fd, POLLIN, 0};
  while (!stop.stop_requested()) {
    if (poll(&watch, 1, 20) > 0)
      return true;
  }
  return false;
}

class RawServer {
 public:
  // Runs on a thread of its own for every accepted connection; the socket is
  // closed when it returns. `stop` fires when the server goes.
  using Handler = std::function<void(int socket, std::stop_token stop)>;

  explicit RawServer(Handler handler) : handler_(std::move(handler)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 64) != 0)
      throw std::runtime_error("cannot listen on loopback");
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::jthread([this](std::stop_token stop) {
      while (WaitReadable(listener_, stop)) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
          continue;
        ++connections_;
        sessions_.emplace_back([this, fd](std::stop_token sessionStop) {
          handler_(fd, sessionStop);
          close(fd);
        });
      }
    });
  }

  ~RawServer() {
    acceptor_ = {};     // stopped and joined: nobody adds sessions any more
    sessions_.clear();  // each session is asked to stop and joined
    close(listener_);
  }

  std::string Address(std::string_view path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  int port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  Handler handler_;
  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::vector<std::jthread> sessions_;  // the acceptor's own until it is joined
  std::jthread acceptor_;
};

// The request head up to its blank line; "" once the peer has closed or the
// server goes, so it also holds a connection open, silent, until then.
inline std::string ReadRequest(int socket, const std::stop_token& stop) {
  std::string request;
  char byte = 0;
  while (!request.ends_with("\r\n\r\n")) {
    if (!WaitReadable(socket, stop) || recv(socket, &byte, 1, 0) != 1)
      return "";
    request += byte;
  }
  return request;
}

// The path of the request line in `request`.
inline std::string RequestPath(std::string_view request) {
  const std::size_t start = request.find(' ') + 1;
  return std::string(request.substr(start, request.find(' ', start) - start));
}

// false once the peer is gone.
inline bool SendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// "HTTP/1.1 <status>" with a Content-Length, extra header lines and `body`.
inline std::string Reply(std::string_view body, std::string_view status = "200 OK",
                         std::string_view headers = "") {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

inline std::string ReadPage(const std::string& address, bool keepFirstLine = true) {
  PageReader reader;
  reader.Open(address);
  return reader.ReadToEnd(keepFirstLine);
}

}  // namespace melo::net::testing
