#pragma once
// The bundled site's HTTP server: cpp-httplib parses requests and writes
// answers, this class runs the connections. Three things differ from the
// library's own connection loop, each of which cost the site dearly:
// - an answer leaves in one write (headers and body together, TCP_NODELAY),
//   where the library's separate small writes met the client's delayed
//   acknowledgement and cost 40 ms on every reused connection;
// - every connection gets a thread of its own, so a client's idle keep-alive
//   connection never makes another client wait for a worker;
// - Stop() wakes every connection at once, idle, reading or writing, where
//   the library waits for idle connections to time out.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
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
  int Fd() const { return fd_; }

 private:
  int fd_;
};

// Runs each task on an idle thread, starting a new thread when none is
// idle; threads stay until Shutdown().
class ThreadPerTask : public httplib::TaskQueue {
 public:
  ~ThreadPerTask() override;
  void enqueue(std::function<void()> task) override;
  void shutdown() override;

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::size_t idle_ = 0;  // started threads not running a task
  bool stopping_ = false;
  std::vector<std::jthread> threads_;
};

class ConnectionServer : public httplib::Server {
 public:
  ConnectionServer();
  ~ConnectionServer() override;

  // Ends listening and wakes every connection; the listening thread returns
  // once each connection has been closed. Safe before listening started.
  void Stop();
  // Call after binding: the library listens with a backlog of 5, so a
  // client opening eight connections at once lost SYNs and waited 1 s to
  // retry them.
  void AcceptManyAtOnce();
  // Waits `delay` in a handler, or less when the server stops meanwhile.
  void Pause(std::chrono::milliseconds delay) const;
  // Waits in a handler until `release` is signalled or the server stops.
  void Hold(const StopEvent& release) const;

 private:
  bool process_and_close_socket(socket_t sock) override;

  StopEvent stopping_;
};

}  // namespace melo::bundled
