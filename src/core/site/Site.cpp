#include "core/site/Site.h"

#include <mutex>

namespace melo::site {
namespace {

// The default host until --site or the bundled site says otherwise.
constexpr std::string_view kDefaultHost = "localhost";

std::mutex& HostMutex() {
  static std::mutex m;
  return m;
}

std::string& Host() {
  static std::string host(kDefaultHost);
  return host;
}

}  // namespace

void SetSiteHost(std::string_view hostAndPort) {
  std::lock_guard lock(HostMutex());
  Host() = std::string(hostAndPort);
}

std::string SiteHost() {
  std::lock_guard lock(HostMutex());
  return Host();
}

std::string SiteBase() {
  return "http://" + SiteHost() + "/";
}

std::string SiteBaseWww() {
  return "http://www." + SiteHost() + "/";
}

std::string StartSongAddress() {
  return SiteBase() + "song/2244436/";
}

}  // namespace melo::site
