// GBK to UTF-8 to GBK on any bytes: the UTF-8 is always well formed, the
// text shown survives the way back to GBK and to the screen again, and the
// ASCII copied around iconv gives what iconv alone gives.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/text/Gbk.h"

namespace {

bool IsWellFormedUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || (n > 1 && b < 0xC2) || i + n > s.size())
      return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
        return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using melo::fuzzing::Check;
  const std::string_view gbk(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = melo::text::GbkToUtf8(gbk);
  // Copying ASCII as it is, not through iconv, changes nothing either way.
  using melo::text::Conversion;
  Check(utf8 == melo::text::GbkToUtf8(gbk, Conversion::kAllThroughIconv));
  Check(melo::text::Utf8ToGbk(gbk) == melo::text::Utf8ToGbk(gbk, Conversion::kAllThroughIconv));
  Check(IsWellFormedUtf8(utf8));
  // The text shown comes back as the same text through GBK, unless GBK cannot
  // hold one of its characters ('?'); the bytes may differ where two byte
  // sequences name one character.
  const std::string back = melo::text::Utf8ToGbk(utf8);
  const bool held =
      std::count(back.begin(), back.end(), '?') == std::count(utf8.begin(), utf8.end(), '?');
  Check(!held || melo::text::GbkToUtf8(back) == utf8);
  return 0;
}
