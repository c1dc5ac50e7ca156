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

// The name cache all readers share. Initialises curl for the process on
// first use.
CURLSH* SharedNameCache();

// A multi handle owned by the calling thread. Its connection cache outlives
// the transfer, so the page reads one thread makes after each other reuse
// their connections. libcurl cannot share one connection cache between
// threads that transfer at the same time, hence one per thread.
MultiHandle AcquireThreadMulti();
// Gives the handle back to this thread's idle ones (no transfer attached).
void ReleaseThreadMulti(MultiHandle multi);

// The agent text SetUserAgent last stored.
std::string CurrentUserAgent();

}  // namespace melo::net
