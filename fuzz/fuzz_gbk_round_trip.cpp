// GBK to UTF-8 to GBK on any bytes: the UTF-8 is always well formed, and
// whatever decoded without a replacement character and encodes back without
// one comes back byte for byte.

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
  Check(IsWellFormedUtf8(utf8));
  const std::string back = melo::text::Utf8ToGbk(utf8);
  const bool lossless = utf8.find("\xEF\xBF\xBD") == std::string::npos &&
                        gbk.find('?') == std::string_view::npos &&
                        back.find('?') == std::string::npos;
  Check(!lossless || back == gbk);
  // And the other way: well-formed UTF-8 that GBK holds comes back too.
  const std::string again = melo::text::GbkToUtf8(back);
  Check(back.find('?') != std::string::npos || again == utf8);
  return 0;
}
