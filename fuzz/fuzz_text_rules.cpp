// Find against plain character stepping, and the clamping of Substring, on
// any bytes: the first byte picks the start, the next three the marker.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text/TextRules.h"

namespace {

using melo::text::Pos;

Pos SteppingFind(std::string_view text, std::string_view marker, Pos start) {
  if (start < 0 || start > static_cast<Pos>(text.size()))
    return -1;
  for (Pos p = start; p <= static_cast<Pos>(text.size()); ++p) {
    if (text.substr(static_cast<size_t>(p)).starts_with(marker))
      return p;
    if (p + 1 < static_cast<Pos>(text.size()) &&
        melo::text::IsLeadByte(static_cast<unsigned char>(text[static_cast<size_t>(p)]))) {
      ++p;
    }
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4)
    return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Pos start = static_cast<Pos>(data[0] % 16) - 2;
  const std::string_view marker = input.substr(1, data[1] % 4);
  const std::string_view text = input.substr(4);
  if (melo::text::Find(text, marker, start) != SteppingFind(text, marker, start))
    std::abort();

  const Pos count = static_cast<Pos>(data[2]) - 64;
  const std::string sub = melo::text::Substring(text, start, count);
  if (sub.size() > text.size())
    std::abort();
  const std::string trimmed = melo::text::Trim(text);
  if (trimmed.size() > text.size())
    std::abort();
  return 0;
}
