#pragma once
// The reader's line rule on the bytes at hand, apart from any transfer so
// that it can be checked against any split of a body into reads.

#include <cstddef>
#include <string>
#include <string_view>

namespace melo::net {

// Appends the bytes of `input` up to the first line feed to `line`, every
// carriage return dropped. Returns how many bytes were used, the line feed
// included; `ended` tells whether it was among them.
std::size_t TakeLineBytes(std::string_view input, std::string& line, bool& ended);

}  // namespace melo::net
