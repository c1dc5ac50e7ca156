#include "app/SiteSetup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "core/net/SocketPort.h"
#include "core/site/Site.h"
#include "core/text/TerminalText.h"

namespace melo::app {
namespace {

using download::FileDescriptor;

// The bundled site takes this port when it is free, so that an MP3 or page
// address one run printed still works in the next run (`melodrift parse`,
// then `melodrift play`); otherwise any free port.
constexpr int kPreferredDemoPort = 47580;
constexpr std::chrono::milliseconds kPortRetryPause{20};

// A socket bound to 127.0.0.1:`port` (0: any free port) and listening; none
// when the port is taken. Bound as the site binds its own: a port left in
// TIME_WAIT is free, but one a site serves on is not (no SO_REUSEPORT).
FileDescriptor ListenOnLoopback(int port) {
  FileDescriptor sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0)
    return sock;
  const int yes = 1;
  setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(sock.get(), SOMAXCONN) != 0)
    return FileDescriptor(-1);
  return sock;
}

}  // namespace

BundledSiteRun::BundledSiteRun(FileDescriptor listening)
    : listening_(std::move(listening)),
      waiter_([this](std::stop_token stop) { ServeOnceKnocked(std::move(stop)); }) {}

BundledSiteRun::~BundledSiteRun() = default;

void BundledSiteRun::ServeOnceKnocked(std::stop_token stop) {
  const FileDescriptor wake(eventfd(0, EFD_CLOEXEC));
  if (wake.get() < 0) {
    GiveUp(std::string("cannot wait for its first client: ") + std::strerror(errno));
    return;
  }
  const std::stop_callback ring(stop, [&wake] {
    const std::uint64_t one = 1;
    (void)!write(wake.get(), &one, sizeof one);
  });
  pollfd events[] = {{.fd = listening_.get(), .events = POLLIN, .revents = 0},
                     {.fd = wake.get(), .events = POLLIN, .revents = 0}};
  int ready = 0;
  while ((ready = poll(events, 2, -1)) < 0 && errno == EINTR) {
  }
  if (stop.stop_requested())
    return;
  if (ready < 0 || (events[0].revents & POLLIN) == 0) {
    GiveUp(std::string("cannot wait for its first client: ") +
           std::strerror(ready < 0 ? errno : EIO));
    return;
  }

  module_ = std::make_unique<const module::LoadedModule>(bundled::kSiteModule, bundled::kSiteEntry);
  std::string failure = module_->Failure();
  if (auto* const serve = module_->Entry<bundled::ServeSiteEntry>())
    site_.reset(serve(listening_.Release(), failure));
  if (!site_)
    GiveUp(failure);
}

void BundledSiteRun::GiveUp(const std::string& why) {
  // Closing the port turns the waiting clients away rather than leaving them
  // waiting for ever.
  listening_ = FileDescriptor(-1);
  std::fprintf(stderr, "%s: cannot start the bundled site: %s\n", program_invocation_short_name,
               text::TerminalSafe(why).c_str());
}

std::unique_ptr<BundledSiteRun> SetUpSite(const std::string& siteHost,
                                          std::chrono::milliseconds patience) {
  if (!siteHost.empty()) {
    site::SetSiteHost(siteHost);
    return nullptr;
  }
  FileDescriptor listening = ListenOnLoopback(kPreferredDemoPort);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (listening.get() < 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPortRetryPause);
    listening = ListenOnLoopback(kPreferredDemoPort);
  }
  if (listening.get() < 0)
    listening = ListenOnLoopback(0);
  const int port = listening.get() < 0 ? -1 : net::LocalPort(listening.get());
  if (port <= 0) {
    throw std::runtime_error(std::string("bundled site: cannot listen on 127.0.0.1: ") +
                             std::strerror(errno));
  }
  site::SetSiteHost("localhost:" + std::to_string(port));
  return std::make_unique<BundledSiteRun>(std::move(listening));
}

}  // namespace melo::app
