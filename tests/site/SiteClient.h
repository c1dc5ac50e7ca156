#pragma once
// A plain HTTP client for the bundled site's tests: raw bytes in and out,
// loopback only.

#include <httplib.h>

#include <string>
#include <string_view>
#include <vector>

#include "site/BundledSite.h"

namespace melo::bundled::testing {

struct Reply {
  int status = 0;  // 0: no answer
  std::string body;
  httplib::Headers headers;
  std::string Header(const std::string& name) const;
};

class SiteClient {
 public:
  explicit SiteClient(const BundledSite& site);

  // `target` is sent as it stands (no escaping); `host` is the Host header,
  // "localhost:PORT" when empty.
  Reply Get(std::string_view target, const httplib::Headers& headers = {},
            std::string_view host = {});
  Reply Head(std::string_view target);
  void SetReadTimeoutMs(int ms);

 private:
  std::string host_;
  httplib::Client client_;
};

// Default options with some fields changed by `set` (designated initialisers
// would warn about every field left out).
template <typename Set>
BundledSiteOptions OptionsWith(Set set) {
  BundledSiteOptions options;
  set(options);
  return options;
}

// The page as a reader gets it: lines without CR and LF.
std::vector<std::string> Lines(std::string_view page);
// The lines after the first one, joined with nothing between them.
std::string TextAfterFirstLine(std::string_view page);

// %XX for every byte outside unreserved ASCII and '/'.
std::string PercentEncode(std::string_view bytes);

}  // namespace melo::bundled::testing
