#include "site/ConnectionServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace melo::bundled {
namespace {

using Milliseconds = std::chrono::milliseconds;

// Answers up to this size leave in one write; larger bodies follow their
// headers directly.
constexpr std::size_t kCoalesceBytes = 64 * 1024;
constexpr std::size_t kReadBufferBytes = 4 * 1024;

Milliseconds ToMilliseconds(time_t sec, time_t usec) {
  return Milliseconds(sec * 1000 + usec / 1000);
}

// The library's own stream, but every wait also ends when the server stops,
// and writes are gathered until the answer is complete.
class ConnectionStream : public httplib::Stream {
 public:
  // `input`: what has arrived already, a request's head at least.
  ConnectionStream(int sock, const StopEvent& stopping, Milliseconds readTimeout,
                   Milliseconds writeTimeout, std::string input)
      : sock_(sock),
        stopping_(stopping),
        readTimeout_(readTimeout),
        writeTimeout_(writeTimeout),
        input_(std::move(input)) {}

  // What has arrived and no request has read yet.
  std::string TakeInput() { return input_.substr(inputUsed_); }

  // Sends what write() gathered.
  bool Flush() {
    const bool sent = SendAll(pending_.data(), pending_.size());
    pending_.clear();
    return sent;
  }

  bool is_readable() const override { return Buffered() > 0 || Await(POLLIN, readTimeout_); }
  bool is_writable() const override { return Await(POLLOUT, writeTimeout_); }

  ssize_t read(char* ptr, std::size_t size) override {
    if (Buffered() == 0) {
      if (!Flush() || !Await(POLLIN, readTimeout_))
        return -1;
      if (size >= kReadBufferBytes)
        return Receive(ptr, size);
      input_.resize(kReadBufferBytes);
      const ssize_t got = Receive(input_.data(), input_.size());
      input_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      inputUsed_ = 0;
      if (got <= 0)
        return got;
    }
    const std::size_t count = std::min(size, Buffered());
    std::memcpy(ptr, input_.data() + inputUsed_, count);
    inputUsed_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, std::size_t size) override {
    if (pending_.size() + size > kCoalesceBytes && !Flush())
      return -1;
    if (size >= kCoalesceBytes)
      return SendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
    pending_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(getsockname, ip, port);
  }
  socket_t socket() const override { return sock_; }

 private:
  std::size_t Buffered() const { return input_.size() - inputUsed_; }

  // True when the socket is ready for `events` within `timeout` and the
  // server is not stopping.
  bool Await(short events, Milliseconds timeout) const {
    pollfd fds[] = {{.fd = sock_, .events = events, .revents = 0},
                    {.fd = stopping_.Fd(), .events = POLLIN, .revents = 0}};
    int ready = 0;
    do {
      ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
  }

  ssize_t Receive(char* ptr, std::size_t size) const {
    ssize_t got = 0;
    do {
      got = ::recv(sock_, ptr, size, 0);
    } while (got < 0 && errno == EINTR);
    return got;
  }

  bool SendAll(const char* data, std::size_t size) const {
    while (size > 0) {
      const ssize_t sent = ::send(sock_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        data += sent;
        size -= static_cast<std::size_t>(sent);
      } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      } else if (sent < 0 && errno == EAGAIN && !Await(POLLOUT, writeTimeout_)) {
        return false;
      }
    }
    return true;
  }

  template <typename Query>
  void AddressOf(Query query, std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (query(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
      inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
      port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
      port = ntohs(v6.sin6_port);
    }
    ip = text;
  }

  int sock_;
  const StopEvent& stopping_;
  Milliseconds readTimeout_;
  Milliseconds writeTimeout_;
  std::string input_;
  std::size_t inputUsed_ = 0;
  std::string pending_;
};

}  // namespace

ConnectionServer::ConnectionServer() {
  new_task_queue = [this] {
    auto pool = std::make_unique<ConnectionPool>(
        [this](Connection& connection) { return ServeRequest(connection); },
        PoolTimes{requestTimeout_, ToMilliseconds(keep_alive_timeout_sec_, 0)}, stopping_);
    pool_ = pool.get();
    return pool.release();  // the library's listening loop owns it
  };
}

ConnectionServer::~ConnectionServer() {
  Stop();
}

void ConnectionServer::Stop() {
  stopping_.Signal();
  stop();
}

void ConnectionServer::CloseListeningSocket() {
  const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
  if (sock != INVALID_SOCKET)
    ::close(sock);
}

void ConnectionServer::AcceptManyAtOnce() {
  ::listen(svr_sock_, SOMAXCONN);
}

void ConnectionServer::Pause(std::chrono::milliseconds delay) const {
  pollfd stop{.fd = stopping_.Fd(), .events = POLLIN, .revents = 0};
  ::poll(&stop, 1, static_cast<int>(delay.count()));
}

void ConnectionServer::Hold(const StopEvent& release) const {
  pollfd events[] = {{.fd = stopping_.Fd(), .events = POLLIN, .revents = 0},
                     {.fd = release.Fd(), .events = POLLIN, .revents = 0}};
  while (::poll(events, 2, -1) < 0 && errno == EINTR) {
  }
}

bool ConnectionServer::process_and_close_socket(socket_t sock) {
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  pool_->Admit(sock, keep_alive_max_count_);
  return true;
}

bool ConnectionServer::ServeRequest(Connection& connection) {
  ConnectionStream stream(
      connection.sock, stopping_, ToMilliseconds(read_timeout_sec_, read_timeout_usec_),
      ToMilliseconds(write_timeout_sec_, write_timeout_usec_), std::move(connection.input));
  bool closed = false;
  const bool served = process_request(stream, connection.requestsLeft == 1, closed, nullptr);
  const bool sent = stream.Flush();
  connection.input = stream.TakeInput();
  --connection.requestsLeft;
  return served && sent && !closed;
}

}  // namespace melo::bundled
