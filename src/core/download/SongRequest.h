#pragma once
// What every request for a song's bytes shares, the download's and the
// player's: the wire rules and reading the reply's headers.

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/download/Download.h"
#include "core/net/HeaderText.h"

namespace melo::download {

// Protocols, redirects, agent, time-outs and stall limit, receive size;
// throws net::InternetError when curl refuses one.
void ApplySongRequestRules(CURL* easy, const std::string& address, const DownloadOptions& options,
                           char* errorText);

// Pumps the transfer attached to `multi` until it is done (its result),
// `stop` fires or `leave` says so (nothing).
std::optional<CURLcode> PumpSongRequest(CURLM* multi, const std::stop_token& stop,
                                        const std::function<bool()>& leave = {});

using net::StartsWithNoCase;
// The value of a header line that starts with `name`, without blanks and line end.
std::string_view HeaderValue(std::string_view line, std::string_view name);

// "bytes A-B/N" or "bytes */N": the first byte (nullopt for "*") and N.
struct ContentRange {
  std::optional<std::uint64_t> first;
  std::optional<std::uint64_t> size;
};
ContentRange ParseContentRange(std::string_view value);

// A page instead of a song (an error page served with 200, a login wall):
// text by its type, or markup at its start.
bool LooksLikePage(std::string_view contentType, std::string_view first);

}  // namespace melo::download
