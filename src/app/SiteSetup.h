#pragma once
// Start-up shared by both programs: which site to read.

#include <chrono>
#include <memory>
#include <string>

#include "site/BundledSite.h"

namespace melo::app {

// With a --site value, reads that site; without one (or with --demo) starts
// the bundled site in-process (on port 47580 when it is free, else on any
// free port) and reads it. With `patience`, a port 47580 that is taken is
// tried again for that long first: a run that reads what another run
// printed starts while that run still holds the port its addresses name.
// The returned server, when there is one, must outlive every page read.
std::unique_ptr<bundled::BundledSite> SetUpSite(const std::string& siteHost,
                                                std::chrono::milliseconds patience = {});

}  // namespace melo::app
