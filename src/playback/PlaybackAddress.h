#pragma once
// From the song list's download link to what the media device opens.

#include <string>
#include <string_view>

namespace melo::playback {

// The link without the double quotes that wrap it in the song list (either
// may be missing: an address typed or pasted without them stays as it is).
std::string UnquoteLink(std::string_view link);

// The unquoted address (GBK bytes) as a URI: the title's bytes, spaces,
// control bytes and whatever a title may hold that a URI may not (?, #, %,
// braces...) percent-encoded, the rest unchanged.
std::string DeviceAddress(std::string_view address);

}  // namespace melo::playback
