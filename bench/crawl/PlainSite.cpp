// plain_site: the bundled site's pages behind a plain loopback server of the
// benchmark's own. Each answer is computed once, kept, and sent in one write
// after the given latency, by one thread per connection; nothing else. The
// crawl benchmark measures the program against it, so that a slow bundled
// site cannot hide a slow program.
// Usage: plain_site [LATENCY_MS [CHART_SIZE]]; prints the port it listens on.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "site/Catalogue.h"
#include "site/Router.h"

namespace {

using melo::bundled::Answer;

class Pages {
 public:
  Pages(int port, int chartSize)
      : site_{.host = "localhost:" + std::to_string(port),
              .catalogue = melo::bundled::DemoCatalogue(),
              .chartSize = chartSize,
              .latestVersion = "v1.6"} {}

  // The whole reply to `target`, headers included.
  const std::string& Reply(const std::string& target) {
    const std::lock_guard lock(mutex_);
    auto [slot, added] = replies_.try_emplace(target);
    if (added) {
      const auto mark = target.find('?');
      const std::string path = target.substr(0, mark);
      const std::string query = mark == std::string::npos ? "" : target.substr(mark + 1);
      const Answer answer = melo::bundled::Route(site_, path, query);
      slot->second = "HTTP/1.1 " + std::to_string(answer.status) +
                     (answer.status == 200 ? " OK" : " Not Found") +
                     "\r\nContent-Type: " + answer.contentType +
                     "\r\nContent-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" +
                     answer.body;
    }
    return slot->second;
  }

 private:
  melo::bundled::SiteContext site_;
  std::mutex mutex_;
  std::map<std::string, std::string> replies_;
};

void Serve(int sock, Pages& pages, std::chrono::milliseconds latency) {
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::string input;
  char buffer[16 * 1024];
  for (;;) {
    const std::size_t end = input.find("\r\n\r\n");
    if (end == std::string::npos) {
      const ssize_t got = recv(sock, buffer, sizeof buffer, 0);
      if (got <= 0)
        break;
      input.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    const std::size_t from = input.find(' ') + 1;
    const std::string target = input.substr(from, input.find(' ', from) - from);
    input.erase(0, end + 4);
    if (latency.count() > 0)
      std::this_thread::sleep_for(latency);
    const std::string& reply = pages.Reply(target);
    if (send(sock, reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size()))
      break;
  }
  close(sock);
}

}  // namespace

int main(int argc, char** argv) {
  const int latencyMs = argc > 1 ? std::atoi(argv[1]) : 0;
  const int chartSize = argc > 2 ? std::atoi(argv[2]) : 200;
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 256) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("plain_site");
    return 1;
  }
  const int port = ntohs(address.sin_port);
  Pages pages(port, chartSize);
  std::printf("%d\n", port);
  std::fflush(stdout);
  std::vector<std::jthread> connections;
  for (;;) {
    const int sock = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (sock >= 0)
      connections.emplace_back(Serve, sock, std::ref(pages), std::chrono::milliseconds(latencyMs));
  }
}
