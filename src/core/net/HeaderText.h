#pragma once
// Case-blind tests on the lines of an HTTP reply's head, as curl hands them
// to a header callback.

#include <strings.h>

#include <string_view>

namespace melo::net {

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

inline bool ContainsNoCase(std::string_view text, std::string_view part) {
  for (; text.size() >= part.size(); text.remove_prefix(1)) {
    if (StartsWithNoCase(text, part))
      return true;
  }
  return false;
}

}  // namespace melo::net
