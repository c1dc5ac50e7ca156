#pragma once

#include <curl/curl.h>

#include <string>

namespace melo::net {

// Throws AddressRefused unless `requestAddress` (already encoded) is a
// complete http or https address with a host. curl itself would guess "http"
// for a bare host name ("cache/..."), which an address from a page or a user
// must not get.
void CheckRequestAddress(const std::string& requestAddress);

// What `easy` may do on the wire for `requestAddress`: http and https only,
// redirects followed up to 20, and an address that starts on https never
// continues over plain http.
void SetWireRules(CURL* easy, const std::string& requestAddress);

// Why a transfer of `requestAddress` failed: curl's text (`errorText` when
// set), or that a redirect to plain http was refused.
std::string WireFailureText(const std::string& requestAddress, CURLcode result,
                            const char* errorText);

}  // namespace melo::net
