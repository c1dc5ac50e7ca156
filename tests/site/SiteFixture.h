#pragma once
// The bundled site under test, read the way the program reads it: through
// the page reader, with SiteBase and SiteBaseWww pointing at the site.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/net/PageReader.h"
#include "core/site/Site.h"
#include "site/BundledSite.h"

namespace melo::bundled {

// Default options with some fields changed by `set` (designated initialisers
// would warn about every field left out).
template <typename Set>
BundledSiteOptions OptionsWith(Set set) {
  BundledSiteOptions options;
  set(options);
  return options;
}

inline std::string ReadPage(const std::string& address, bool keepFirstLine = true) {
  net::PageReader reader;
  reader.Open(address);
  return reader.ReadToEnd(keepFirstLine);
}

// One site for the whole suite.
class SiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = std::make_unique<BundledSite>(); }
  static void TearDownTestSuite() { site_.reset(); }
  void SetUp() override { site::SetSiteHost(site_->Host()); }

  inline static std::unique_ptr<BundledSite> site_;
};

}  // namespace melo::bundled
