#pragma once
// Which page answers which address. Kept apart from the HTTP server so the
// mapping reads in one place.

#include <string>
#include <string_view>

#include "site/Pages.h"

namespace melo::bundled {

inline constexpr std::string_view kHtmlType = "text/html; charset=gbk";

struct Answer {
  int status = 200;
  std::string contentType{kHtmlType};
  std::string body;
};

// `path` is the decoded request path (any run of slashes counts as one);
// `rawQuery` the query as sent, still percent-encoded.
Answer Route(const SiteContext& site, std::string_view path, std::string_view rawQuery);

}  // namespace melo::bundled
