#include "app/SiteSetup.h"

#include "core/site/Site.h"

namespace melo::app {

std::unique_ptr<bundled::BundledSite> SetUpSite(const std::string& siteHost) {
  if (!siteHost.empty()) {
    site::SetSiteHost(siteHost);
    return nullptr;
  }
  auto server = std::make_unique<bundled::BundledSite>();
  site::SetSiteHost(server->Host());
  return server;
}

}  // namespace melo::app
