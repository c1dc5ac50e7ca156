#pragma once
// Start-up shared by both programs: which site to read.

#include <memory>
#include <string>

#include "site/BundledSite.h"

namespace melo::app {

// With a --site value, reads that site; without one (or with --demo) starts
// the bundled site in-process (on port 47580 when it is free, else on any
// free port) and reads it. The
// returned server, when there is one, must outlive every page read.
std::unique_ptr<bundled::BundledSite> SetUpSite(const std::string& siteHost);

}  // namespace melo::app
