#pragma once
// The bundled site's HTTP server: cpp-httplib parses requests and writes
// answers, this class runs the connections. Three things differ from the
// library's own connection loop, each of which cost the site dearly:
// - an answer leaves in one write (headers and body together, TCP_NODELAY),
//   where the library's separate small writes met the client's delayed
//   acknowledgement and cost 40 ms on every reused connection;
// - a connection takes a thread only once a request's head has arrived
//   whole (ConnectionPool), so neither an idle keep-alive connection nor a
//   half-sent request makes another client wait, and threads stay bounded;
// - Stop() wakes every connection at once, idle, reading or writing, where
//   the library waits for idle connections to time out.

#include <httplib.h>

#include <chrono>

#include "site/ConnectionPool.h"

namespace melo::bundled {

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
  // Listens on `sock`, bound and listening already, instead of binding;
  // closes it on Stop().
  void TakeListeningSocket(int sock) { svr_sock_ = sock; }
  // Closes the listening socket of a server that is not listening yet (the
  // library's stop() leaves it open then).
  void CloseListeningSocket();
  // How long a request may take to arrive whole, from its first byte; a
  // connection that sends nothing is closed after the keep-alive time-out.
  // Call before listening.
  void SetRequestTimeout(std::chrono::milliseconds timeout) { requestTimeout_ = timeout; }
  // Waits `delay` in a handler, or less when the server stops meanwhile.
  void Pause(std::chrono::milliseconds delay) const;
  // Waits in a handler until `release` is signalled or the server stops.
  void Hold(const StopEvent& release) const;

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool ServeRequest(Connection& connection);

  StopEvent stopping_;
  std::chrono::milliseconds requestTimeout_{3000};
  ConnectionPool* pool_ = nullptr;  // the listening loop's, owned by the library
};

}  // namespace melo::bundled
