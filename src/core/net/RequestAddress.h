#pragma once

#include <string>

namespace melo::net {

// Throws AddressRefused unless `requestAddress` (already encoded) is a
// complete http or https address. curl itself would guess "http" for a bare
// host name, which a typed address must not get.
void CheckRequestAddress(const std::string& requestAddress);

}  // namespace melo::net
