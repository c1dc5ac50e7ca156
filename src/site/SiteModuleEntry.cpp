// The site module's entry: the bundled site behind ServedSite.

#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core/module/LoadedModule.h"
#include "site/BundledSite.h"
#include "site/SiteModule.h"

MELO_MODULE_VERSION_DEFINITION;

namespace melo::bundled {
namespace {

class ModuleSite final : public ServedSite {
 public:
  explicit ModuleSite(BundledSiteOptions options) : site_(std::move(options)) {}

 private:
  BundledSite site_;
};

}  // namespace
}  // namespace melo::bundled

extern "C" MELO_MODULE_EXPORT melo::bundled::ServedSite* melo_serve_bundled_site(
    int listeningSocket, std::string& failure) {
  static_assert(std::is_same_v<decltype(melo_serve_bundled_site), melo::bundled::ServeSiteEntry>);
  melo::bundled::BundledSiteOptions options;
  options.listeningSocket = listeningSocket;
  try {
    return std::make_unique<melo::bundled::ModuleSite>(std::move(options)).release();
  } catch (const std::exception& error) {
    failure = error.what();
    return nullptr;
  }
}
