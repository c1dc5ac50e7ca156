#pragma once
// Recorded pages served in place of generated ones (--pages DIR).
//
// Mapping: the request path with every run of slashes taken as one, below
// DIR; a path that ends in "/" gets "index.html"; the query is ignored. So
// "//song/2244436//" reads DIR/song/2244436/index.html and "/music/chart"
// reads DIR/music/chart. A path with a ".." segment is never looked up.
// Files are sent as they are, as GBK pages unless they end in ".mp3"; in a
// page every "@HOST@" becomes the site's "localhost:PORT", so a recorded media
// line can point at the bundled audio.

#include <filesystem>
#include <optional>
#include <string_view>

#include "site/Router.h"

namespace melo::bundled {

inline constexpr std::string_view kHostPlaceholder = "@HOST@";

std::optional<Answer> FindRecordedPage(const std::filesystem::path& dir, std::string_view path,
                                       std::string_view host);

}  // namespace melo::bundled
