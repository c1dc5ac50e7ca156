#include "app/SiteSetup.h"

#include <stdexcept>
#include <thread>

#include "core/site/Site.h"

namespace melo::app {
namespace {

// The bundled site takes this port when it is free, so that an MP3 or page
// address one run printed still works in the next run (`melodrift parse`,
// then `melodrift play`); otherwise any free port.
constexpr int kPreferredDemoPort = 47580;

}  // namespace

std::unique_ptr<bundled::BundledSite> SetUpSite(const std::string& siteHost,
                                                std::chrono::milliseconds patience) {
  if (!siteHost.empty()) {
    site::SetSiteHost(siteHost);
    return nullptr;
  }
  std::unique_ptr<bundled::BundledSite> server;
  bundled::BundledSiteOptions preferred;
  preferred.port = kPreferredDemoPort;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!server) {
    try {
      server = std::make_unique<bundled::BundledSite>(preferred);
    } catch (const std::runtime_error&) {
      if (std::chrono::steady_clock::now() >= deadline)
        server = std::make_unique<bundled::BundledSite>();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  site::SetSiteHost(server->Host());
  return server;
}

}  // namespace melo::app
