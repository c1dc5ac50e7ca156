#include "site/BundledSite.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <utility>

#include "core/net/SocketPort.h"
#include "core/text/TerminalText.h"
#include "site/Catalogue.h"
#include "site/ConnectionServer.h"
#include "site/Pages.h"
#include "site/RecordedPages.h"
#include "site/Router.h"

namespace melo::bundled {
namespace {

constexpr size_t kRequestsPerConnection = 1000;
// Stopping does not wait for idle connections, so they may stay a while.
constexpr time_t kKeepAliveSeconds = 5;
constexpr std::string_view kLoopback = "127.0.0.1";

std::string_view QueryOf(std::string_view target) {
  const auto mark = target.find('?');
  return mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

// A range that starts at or past the end: the library would answer 416 with
// a malformed Content-Range, so it is answered here.
bool StartsPastEnd(const httplib::Request& req, const Answer& answer) {
  return req.ranges.size() == 1 && req.ranges[0].first >= 0 &&
         static_cast<size_t>(req.ranges[0].first) >= answer.body.size();
}

void Send(const httplib::Request& req, const Answer& answer, httplib::Response& res) {
  if (answer.status == 200 && StartsPastEnd(req, answer)) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + std::to_string(answer.body.size()));
    return;
  }
  // A 200 keeps the library's "unset" status, so that it turns a Range
  // request into a 206 with the requested bytes; players seek only where a
  // server says it takes Range requests.
  if (answer.status != 200)
    res.status = answer.status;
  else
    res.set_header("Accept-Ranges", "bytes");
  res.set_content(answer.body, answer.contentType.c_str());
}

void LogRequest(const httplib::Request& req, const httplib::Response& res) {
  std::fprintf(stderr, "melodrift-site: %s %s -> %d (%zu bytes)\n",
               text::TerminalSafe(req.method).c_str(), text::TerminalSafe(req.target).c_str(),
               res.status, res.body.size());
}

int Bind(httplib::Server& http, int port) {
  if (port == 0)
    return http.bind_to_any_port(std::string(kLoopback));
  return http.bind_to_port(std::string(kLoopback), port) ? port : -1;
}

}  // namespace

struct BundledSite::Server {
  explicit Server(BundledSiteOptions opts) : options(std::move(opts)) {}

  void Configure() {
    // The library's default adds SO_REUSEPORT, which would let a second site
    // share a port in use and split the requests between the two.
    http.set_socket_options([](socket_t sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_keep_alive_max_count(options.oneReplyPerConnection ? 1 : kRequestsPerConnection);
    http.set_keep_alive_timeout(kKeepAliveSeconds);
    // A request's body (the site takes none) is read by a worker: no
    // longer than its head may take to arrive.
    http.set_read_timeout(options.requestTimeoutMs / 1000,
                          (options.requestTimeoutMs % 1000) * 1000);
    http.SetRequestTimeout(std::chrono::milliseconds(options.requestTimeoutMs));
    if (options.latencyMs > 0 || options.holdAnswers) {
      http.set_pre_routing_handler([this](const auto&, auto&) {
        if (options.holdAnswers)
          http.Hold(released);
        http.Pause(std::chrono::milliseconds(options.latencyMs));
        return httplib::Server::HandlerResponse::Unhandled;
      });
    }
    if (options.verbose)
      http.set_logger(LogRequest);
    http.Get(R"([\s\S]*)", [this](const httplib::Request& req, httplib::Response& res) {
      Send(req, Respond(req), res);
    });
  }

  melo::bundled::Answer Respond(const httplib::Request& req) const {
    // A decoded %00 would cut a file name short, and names no page.
    if (req.path.find('\0') != std::string::npos)
      return Answer{.status = 404, .body = NotFoundPage()};
    if (!options.pagesDir.empty()) {
      if (auto recorded = FindRecordedPage(options.pagesDir, req.path, site->host))
        return *recorded;
    }
    return Route(*site, req.path, QueryOf(req.target));
  }

  void Start() {
    if (options.listeningSocket >= 0) {
      port = net::LocalPort(options.listeningSocket);
      if (port > 0)
        http.TakeListeningSocket(std::exchange(options.listeningSocket, -1));
    } else {
      port = Bind(http, options.port);
    }
    if (port <= 0) {
      throw std::runtime_error("bundled site: cannot listen on " + std::string(kLoopback) + ":" +
                               std::to_string(options.port));
    }
    try {
      StartServing();
    } catch (...) {
      // Clients would wait on a port nobody serves.
      http.CloseListeningSocket();
      throw;
    }
  }

  void StartServing() {
    http.AcceptManyAtOnce();
    site = std::make_unique<SiteContext>(SiteContext{.host = "localhost:" + std::to_string(port),
                                                     .catalogue = DemoCatalogue(),
                                                     .chartSize = options.chartSize,
                                                     .latestVersion = options.latestVersion});
    // Connections wait in the backlog until the loop runs: starting need
    // not wait for it, which would hold up the window's first frame.
    listener = std::jthread([this] {
      http.listen_after_bind();
      listenEnded = true;
    });
  }

  // A socket the site was given and never took.
  ~Server() {
    if (options.listeningSocket >= 0)
      ::close(options.listeningSocket);
  }

  void Stop() {
    // stop() before the loop runs would be lost and the join would hang.
    while (listener.joinable() && !http.is_running() && !listenEnded) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    http.Stop();
    if (listener.joinable())
      listener.join();
  }

  BundledSiteOptions options;
  StopEvent released;
  ConnectionServer http;
  int port = -1;
  std::unique_ptr<SiteContext> site;
  std::atomic<bool> listenEnded{false};
  std::jthread listener;
};

BundledSite::BundledSite(BundledSiteOptions options)
    : server_(std::make_unique<Server>(std::move(options))) {
  server_->Configure();
  server_->Start();
}

BundledSite::~BundledSite() {
  server_->Stop();
}

int BundledSite::Port() const {
  return server_->port;
}

void BundledSite::ReleaseAnswers() {
  server_->released.Signal();
}

std::string BundledSite::Host() const {
  return "localhost:" + std::to_string(server_->port);
}

}  // namespace melo::bundled
