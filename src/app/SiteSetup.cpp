#include "app/SiteSetup.h"

#include <stdexcept>

#include "core/site/Site.h"

namespace melo::app {
namespace {

// The bundled site takes this port when it is free, so that an MP3 or page
// address one run printed still works in the next run (`melodrift parse`,
// then `melodrift play`); otherwise any free port.
constexpr int kPreferredDemoPort = 47580;

}  // namespace

std::unique_ptr<bundled::BundledSite> SetUpSite(const std::string& siteHost) {
  if (!siteHost.empty()) {
    site::SetSiteHost(siteHost);
    return nullptr;
  }
  std::unique_ptr<bundled::BundledSite> server;
  bundled::BundledSiteOptions preferred;
  preferred.port = kPreferredDemoPort;
  try {
    server = std::make_unique<bundled::BundledSite>(preferred);
  } catch (const std::runtime_error&) {
    server = std::make_unique<bundled::BundledSite>();
  }
  site::SetSiteHost(server->Host());
  return server;
}

}  // namespace melo::app
