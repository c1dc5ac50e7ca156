#pragma once
// The one site this program reads. Every site address is SiteBase() or
// SiteBaseWww() followed by a path; both come from one host setting.

#include <string>
#include <string_view>

namespace melo::site {

// The host, with an optional ":PORT", as given by --site. Set once at start,
// before any worker runs.
void SetSiteHost(std::string_view hostAndPort);
std::string SiteHost();

// "http://" + host + "/"
std::string SiteBase();
// "http://www." + host + "/"
std::string SiteBaseWww();

// The song page the URL box starts with.
std::string StartSongAddress();

}  // namespace melo::site
