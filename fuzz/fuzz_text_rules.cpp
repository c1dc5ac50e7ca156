// Find against plain character stepping, and the clamping of Substring, on
// any bytes: the first byte picks the start, the next three the marker.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/text/TextRules.h"

using melo::fuzzing::Pos;
using melo::fuzzing::SteppingFind;

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
