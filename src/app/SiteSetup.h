#pragma once
// Start-up shared by both programs: which site to read.

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/download/FileDescriptor.h"
#include "core/module/LoadedModule.h"
#include "site/SiteModule.h"

namespace melo::app {

// The bundled site's port, bound and listening, and the site itself once the
// first client has knocked: its module is loaded then, by a thread of its
// own, and serves every connection from the first one on. Ending the run
// stops the site.
class BundledSiteRun {
 public:
  explicit BundledSiteRun(download::FileDescriptor listening);
  ~BundledSiteRun();
  BundledSiteRun(const BundledSiteRun&) = delete;
  BundledSiteRun& operator=(const BundledSiteRun&) = delete;

 private:
  void ServeOnceKnocked(std::stop_token stop);
  // Says why the site cannot serve and closes its port.
  void GiveUp(const std::string& why);

  download::FileDescriptor listening_;  // the site's once it serves
  std::unique_ptr<const module::LoadedModule> module_;
  std::unique_ptr<bundled::ServedSite> site_;  // after module_: gone before it
  std::jthread waiter_;                        // last: ends first
};

// With a --site value, reads that site; without one (or with --demo) binds
// the bundled site's port (47580 when it is free, else any free port) and
// reads the site served there. With `patience`, a port 47580 that is taken
// is tried again for that long first: a run that reads what another run
// printed starts while that run still holds the port its addresses name.
// The returned run, when there is one, must outlive every page read; throws
// std::runtime_error when no port can be bound.
std::unique_ptr<BundledSiteRun> SetUpSite(const std::string& siteHost,
                                          std::chrono::milliseconds patience = {});

}  // namespace melo::app
