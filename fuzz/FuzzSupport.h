#pragma once
// What the fuzz targets share: the slow, obvious references they check the
// program against, and the way they fail.

#include <cstdlib>
#include <string_view>

#include "core/text/TextRules.h"

namespace melo::fuzzing {

using text::Pos;

// Any difference from the reference is a finding: abort, so libFuzzer keeps the input.
inline void Check(bool holds) {
  if (!holds)
    std::abort();
}

// Find the plain way: one character after another, a lead byte and the byte
// after it being one character.
inline Pos SteppingFind(std::string_view text, std::string_view marker, Pos start = 0) {
  if (start < 0 || start > static_cast<Pos>(text.size()))
    return -1;
  for (Pos p = start; p <= static_cast<Pos>(text.size()); ++p) {
    if (text.substr(static_cast<size_t>(p)).starts_with(marker))
      return p;
    if (p + 1 < static_cast<Pos>(text.size()) &&
        text::IsLeadByte(static_cast<unsigned char>(text[static_cast<size_t>(p)]))) {
      ++p;
    }
  }
  return -1;
}

}  // namespace melo::fuzzing
