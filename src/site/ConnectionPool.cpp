#include "site/ConnectionPool.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace melo::bundled {
namespace {

// A head this long that has not ended goes to a worker anyway, which
// answers it as the library answers an oversized request.
constexpr std::size_t kMaxHeadBytes = 16 * 1024;
constexpr std::size_t kReadBytes = 4 * 1024;
// A client that reads an answer and asks again at once (a crawl does) has
// its next head read by the worker that answered: two thread wake-ups fewer
// a request, which were most of the site's time. No longer than this, so
// that an idle connection soon goes back to the watcher and holds no thread.
constexpr int kLingerMs = 2;

bool HeadComplete(const std::string& input) {
  return input.find("\r\n\r\n") != std::string::npos || input.find("\n\n") != std::string::npos ||
         input.size() >= kMaxHeadBytes;
}

void Close(const Connection& connection) {
  ::shutdown(connection.sock, SHUT_RDWR);
  ::close(connection.sock);
}

}  // namespace

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0)
    throw std::runtime_error(std::string("bundled site: eventfd: ") + std::strerror(errno));
}

StopEvent::~StopEvent() {
  ::close(fd_);
}

void StopEvent::Signal() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void StopEvent::Clear() const {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(fd_, &count, sizeof count);
}

ConnectionPool::ConnectionPool(Serve serve, PoolTimes times, const StopEvent& serverStopping)
    : serve_(std::move(serve)), times_(times), serverStopping_(serverStopping) {
  watcher_ = std::jthread([this] { Watch(); });
}

ConnectionPool::~ConnectionPool() {
  shutdown();
}

void ConnectionPool::Admit(int sock, std::size_t requests) {
  Wait({sock, {}, requests}, times_.idle);
}

// From a worker too, when a kept connection goes back to waiting.
void ConnectionPool::Wait(Connection connection, std::chrono::milliseconds limit) {
  {
    const std::lock_guard lock(mutex_);
    if (!stopping_) {
      arrivals_.push_back({std::move(connection), Clock::now() + limit});
      doorbell_.Signal();
      return;
    }
  }
  Close(connection);
}

void ConnectionPool::shutdown() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  doorbell_.Signal();
  wake_.notify_all();
  if (watcher_.joinable())
    watcher_.join();
  // The watcher is gone: no worker starts any more.
  workers_.clear();  // joins; each ends its request first
  for (const Waiting& waiting : arrivals_)
    Close(waiting.connection);
  for (const Connection& connection : ready_)
    Close(connection);
  arrivals_.clear();
  ready_.clear();
}

// False once the pool or the server stops.
bool ConnectionPool::TakeArrivals(std::vector<Waiting>& waiting) {
  const std::lock_guard lock(mutex_);
  if (stopping_)
    return false;
  for (Waiting& arrival : arrivals_) {
    if (waiting.size() < kMaxWaiting)
      waiting.push_back(std::move(arrival));
    else
      Close(arrival.connection);
  }
  arrivals_.clear();
  return true;
}

// Hands on what is ripe (a kept connection's next head may have come with
// the last one) and closes what is too late; returns the poll time-out.
int ConnectionPool::Dispatch(std::vector<Waiting>& waiting) {
  const Clock::time_point now = Clock::now();
  std::erase_if(waiting, [&](Waiting& w) {
    if (HeadComplete(w.connection.input)) {
      ToWorker(std::move(w.connection));
      return true;
    }
    if (w.deadline <= now) {
      Close(w.connection);
      return true;
    }
    return false;
  });
  if (waiting.empty())
    return -1;
  const auto first =
      std::min_element(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
        return a.deadline < b.deadline;
      })->deadline;
  return static_cast<int>(
      std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(first - now).count()));
}

void ConnectionPool::Watch() {
  std::vector<Waiting> waiting;
  std::vector<pollfd> fds;
  while (TakeArrivals(waiting)) {
    const int timeout = Dispatch(waiting);
    fds.assign({{doorbell_.Fd(), POLLIN, 0}, {serverStopping_.Fd(), POLLIN, 0}});
    for (const Waiting& w : waiting)
      fds.push_back({w.connection.sock, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
      break;
    if (fds[1].revents != 0)
      break;
    if (fds[0].revents != 0)
      doorbell_.Clear();
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (fds[i + 2].revents != 0)
        Gather(waiting[i]);
    }
    std::erase_if(waiting, [](const Waiting& w) { return w.connection.sock < 0; });
  }
  for (const Waiting& w : waiting)
    Close(w.connection);
}

// Reads what has arrived. A request's first byte starts its time-out; a
// client that has gone is closed (its socket -1).
void ConnectionPool::Gather(Waiting& waiting) const {
  Connection& connection = waiting.connection;
  const bool started = !connection.input.empty();
  if (!Receive(connection)) {
    Close(connection);
    connection.sock = -1;
  } else if (!started && !connection.input.empty()) {
    waiting.deadline = Clock::now() + times_.request;
  }
}

// False when the client has gone.
bool ConnectionPool::Receive(Connection& connection) {
  std::string& input = connection.input;
  while (input.size() < kMaxHeadBytes) {
    char buffer[kReadBytes];
    const ssize_t got = ::recv(connection.sock, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      input.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR)
      continue;
    // A client that sent its request whole and then shut its side is
    // still answered.
    return got == 0 ? HeadComplete(input) : errno == EAGAIN || errno == EWOULDBLOCK;
  }
  return true;
}

void ConnectionPool::ToWorker(Connection connection) {
  const std::lock_guard lock(mutex_);
  ready_.push_back(std::move(connection));
  if (idle_ == 0 && workers_.size() < kMaxWorkers) {
    // Counted idle from its start, so that the next request does not start
    // another thread before this one has taken its request.
    ++idle_;
    workers_.emplace_back([this] { Work(); });
  } else {
    wake_.notify_one();
  }
}

// Whether the connection's next head has arrived whole within the linger;
// what arrived stays in its input either way. A stopping server ends it.
bool ConnectionPool::NextHeadSoon(Connection& connection) const {
  if (HeadComplete(connection.input))
    return true;
  pollfd fds[] = {{connection.sock, POLLIN, 0}, {serverStopping_.Fd(), POLLIN, 0}};
  if (::poll(fds, 2, kLingerMs) <= 0 || fds[1].revents != 0)
    return false;
  return Receive(connection) && HeadComplete(connection.input);
}

void ConnectionPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
    if (stopping_)
      return;  // shutdown closes what is still ready
    Connection connection = std::move(ready_.front());
    ready_.pop_front();
    --idle_;
    lock.unlock();
    bool kept = serve_(connection);
    while (kept && connection.requestsLeft > 0 && NextHeadSoon(connection))
      kept = serve_(connection);
    if (kept && connection.requestsLeft > 0) {
      const auto limit = connection.input.empty() ? times_.idle : times_.request;
      Wait(std::move(connection), limit);
    } else {
      Close(connection);
    }
    lock.lock();
    ++idle_;
  }
}

}  // namespace melo::bundled
