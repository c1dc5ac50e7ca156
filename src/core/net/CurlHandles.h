#pragma once
// Owners for the curl handles a page read uses, and the process-wide curl
// state every reader shares.

#include <curl/curl.h>

#include <memory>
#include <string>

namespace melo::net {

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;

// The connection and name cache all readers share, so pages of one site
// reuse open connections. Initialises curl for the process on first use.
CURLSH* SharedConnectionCache();

// The agent text SetUserAgent last stored.
std::string CurrentUserAgent();

}  // namespace melo::net
