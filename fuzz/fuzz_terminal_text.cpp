// The terminal escapers on any bytes: the text one against a plain reference
// that decodes one code point at a time and re-encodes it to check the form
// (the same output, nothing in it a terminal would act on); the JSON one
// leaves no DEL and no C1 control.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/text/TerminalText.h"

namespace {

std::string Encode(std::uint32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// A character is well formed when its bytes decode to a code point that
// encodes back to exactly those bytes, and is no surrogate nor past U+10FFFF.
std::size_t WellFormedLength(std::string_view s) {
  for (std::size_t n = 1; n <= 4 && n <= s.size(); ++n) {
    const auto lead = static_cast<unsigned char>(s[0]);
    std::uint32_t cp = n == 1 ? lead : lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[k]) & 0x3F);
    if (cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) && Encode(cp) == s.substr(0, n))
      return n;
  }
  return 0;
}

std::string Reference(std::string_view s) {
  std::string out;
  char escape[8];
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = WellFormedLength(s.substr(i));
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(s[i]));
      out += escape;
      ++i;
      continue;
    }
    std::uint32_t cp = n == 1 ? static_cast<unsigned char>(s[i])
                              : (static_cast<unsigned char>(s[i]) & (0x7F >> n));
    for (std::size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp < 0x20 || cp == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
      out += escape;
    } else if (cp >= 0x80 && cp <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
      out += escape;
    } else {
      out += s.substr(i, n);
    }
    i += n;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using melo::fuzzing::Check;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string safe = melo::text::TerminalSafe(input);
  Check(safe == Reference(input));
  for (std::size_t i = 0; i < safe.size();) {
    const std::size_t n = WellFormedLength(std::string_view(safe).substr(i));
    Check(n > 0);
    const auto lead = static_cast<unsigned char>(safe[i]);
    Check(lead >= 0x20 && lead != 0x7F);
    Check(!(lead == 0xC2 && static_cast<unsigned char>(safe[i + 1]) < 0xA0));
    i += n;
  }
  // The JSON pass leaves nothing but what the JSON writer itself escapes.
  const std::string json = melo::text::TerminalSafeJson(input);
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto byte = static_cast<unsigned char>(json[i]);
    Check(byte != 0x7F);
    Check(!(byte == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) < 0xA0 &&
            static_cast<unsigned char>(json[i + 1]) >= 0x80));
  }
  return 0;
}
