#pragma once
// The bundled site as the programs start it: they bind its port themselves
// and load the module "site" only once a client knocks, so that neither a
// program reading another site nor the window's first frame waits for the
// server's libraries.

#include <string>

namespace melo::bundled {

inline constexpr char kSiteModule[] = "site";
inline constexpr char kSiteEntry[] = "melo_serve_bundled_site";

// The bundled site while it serves; deleting it stops it.
class ServedSite {
 public:
  virtual ~ServedSite() = default;
};

// Serves on `listeningSocket`, bound and listening already, which it takes
// (and closes, also when it fails); null with `failure` set when it cannot.
// The caller deletes what it returns.
using ServeSiteEntry = ServedSite*(int listeningSocket, std::string& failure);

}  // namespace melo::bundled
