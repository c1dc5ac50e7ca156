#pragma once

#include <string>

namespace melo::net {

// Throws InternetError with curl's text unless `requestAddress` (already
// encoded) is a complete address with a scheme. curl itself would guess
// "http" for a bare host name, which a typed address must not get.
void CheckRequestAddress(const std::string& requestAddress);

}  // namespace melo::net
