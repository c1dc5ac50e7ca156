#include "core/net/RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace melo::net::testing {
namespace {

constexpr int kPollMs = 20;

int BoundLoopbackSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind a loopback socket");
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

bool Readable(int fd) {
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, kPollMs) > 0;
}

}  // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = BoundLoopbackSocket();
  listen(listener_, 64);
  port_ = PortOf(listener_);
  acceptor_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
}

RawServer::~RawServer() {
  acceptor_.request_stop();
  acceptor_.join();
  std::vector<std::jthread> sessions;
  {
    const std::lock_guard lock(mutex_);
    for (const int fd : openSockets_)
      shutdown(fd, SHUT_RDWR);
    sessions = std::move(sessions_);
  }
  sessions.clear();  // each session is asked to stop and joined
  close(listener_);
}

std::string RawServer::Address(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void RawServer::AcceptLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    if (!Readable(listener_))
      continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    ++connections_;
    const std::lock_guard lock(mutex_);
    openSockets_.push_back(fd);
    sessions_.emplace_back([this, fd](std::stop_token sessionStop) {
      handler_(fd, sessionStop);
      const std::lock_guard closing(mutex_);
      std::erase(openSockets_, fd);
      close(fd);
    });
  }
}

std::string ReadRequest(int socket) {
  std::string request;
  char byte = 0;
  while (request.find("\r\n\r\n") == std::string::npos) {
    if (recv(socket, &byte, 1, 0) != 1)
      return "";
    request += byte;
  }
  return request;
}

std::string RequestPath(std::string_view request) {
  const std::size_t start = request.find(' ') + 1;
  return std::string(request.substr(start, request.find(' ', start) - start));
}

bool SendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void WaitForPeerClose(int socket, std::stop_token stop) {
  char sink[256];
  while (!stop.stop_requested()) {
    if (Readable(socket) && recv(socket, sink, sizeof sink, 0) <= 0)
      return;
  }
}

std::string Reply(std::string_view body, std::string_view status, std::string_view headers) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

int UnusedPort() {
  const int fd = BoundLoopbackSocket();
  const int port = PortOf(fd);
  close(fd);
  return port;
}

}  // namespace melo::net::testing
