#pragma once
// How the bundled site spends its threads. Every connection waits for its
// next request in one watcher thread, which gathers what arrives; only a
// request whose head has arrived whole takes one of at most kMaxWorkers
// threads. A client that sends half a request, or nothing, holds no thread
// and is closed after its time-out, so a flood of them neither keeps a
// normal request waiting nor piles up threads.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace melo::bundled {

// An eventfd that turns readable for good once Signal() is called, so that
// any number of poll() calls see it.
class StopEvent {
 public:
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  void Signal() const;
  // Readable no more (for an event that is rung again and again).
  void Clear() const;
  int Fd() const { return fd_; }

 private:
  int fd_;
};

struct Connection {
  int sock = -1;
  std::string input;  // received, not yet read by a request
  std::size_t requestsLeft = 0;
};

struct PoolTimes {
  std::chrono::milliseconds request;  // from a request's first byte to its whole head
  std::chrono::milliseconds idle;     // for a request to start
};

class ConnectionPool : public httplib::TaskQueue {
 public:
  static constexpr std::size_t kMaxWorkers = 64;
  // Beyond this, new connections are closed at once: file descriptors are
  // not endless either.
  static constexpr std::size_t kMaxWaiting = 900;

  // Serves the request that `connection.input` holds the head of, leaving
  // in it what follows; returns whether the connection stays open.
  using Serve = std::function<bool(Connection& connection)>;

  ConnectionPool(Serve serve, PoolTimes times, const StopEvent& serverStopping);
  ~ConnectionPool() override;

  // The library's accept loop hands over each connection as a task that
  // calls Admit: it runs at once, on that loop's thread.
  void enqueue(std::function<void()> task) override { task(); }
  // Closes every connection and joins every thread.
  void shutdown() override;

  void Admit(int sock, std::size_t requests);

 private:
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    Connection connection;
    Clock::time_point deadline;
  };

  void Watch();
  bool TakeArrivals(std::vector<Waiting>& waiting);
  int Dispatch(std::vector<Waiting>& waiting);
  void Gather(Waiting& waiting) const;
  static bool Receive(Connection& connection);
  void ToWorker(Connection connection);
  void Work();
  bool NextHeadSoon(Connection& connection) const;
  void Wait(Connection connection, std::chrono::milliseconds limit);

  Serve serve_;
  PoolTimes times_;
  const StopEvent& serverStopping_;
  StopEvent doorbell_;  // new arrivals for the watcher

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<Waiting> arrivals_;  // for the watcher
  std::deque<Connection> ready_;   // for the workers
  std::size_t idle_ = 0;           // started workers not serving
  std::vector<std::jthread> workers_;
  std::jthread watcher_;
};

}  // namespace melo::bundled
