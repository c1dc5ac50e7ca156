#include "core/text/TerminalText.h"

namespace melo::text {
namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

std::size_t Utf8CharacterLength(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (text.empty())
    return 0;
  const unsigned char lead = at(0);
  if (lead < 0x80)
    return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  }
  if (length == 0 || text.size() < length || at(1) < low || at(1) > high)
    return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(at(i)))
      return 0;
  }
  return length;
}

char32_t Utf8CodePoint(std::string_view character) {
  const auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1)
    return lead;
  char32_t point = lead & (0x7F >> character.size());
  for (std::size_t i = 1; i < character.size(); ++i)
    point = (point << 6) | (static_cast<unsigned char>(character[i]) & 0x3F);
  return point;
}

namespace {

void AppendEscape(std::string& out, std::string_view prefix, unsigned char value) {
  out += prefix;
  out += kHex[value >> 4];
  out += kHex[value & 0x0F];
}

}  // namespace

std::string TerminalSafe(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += utf8[i++];
      continue;
    }
    const std::size_t length = byte < 0x80 ? 0 : Utf8CharacterLength(utf8.substr(i));
    if (length == 0) {
      AppendEscape(out, "\\x", byte);
      ++i;
    } else if (byte == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      AppendEscape(out, "\\u00", static_cast<unsigned char>(utf8[i + 1]));
      i += length;
    } else {
      out.append(utf8, i, length);
      i += length;
    }
  }
  return out;
}

std::string TerminalSafeJson(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto byte = static_cast<unsigned char>(json[i]);
    const bool c1 = byte == 0xC2 && i + 1 < json.size() &&
                    static_cast<unsigned char>(json[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(json[i + 1]) < 0xA0;
    if (byte == 0x7F) {
      AppendEscape(out, "\\u00", byte);
    } else if (c1) {
      AppendEscape(out, "\\u00", static_cast<unsigned char>(json[++i]));
    } else {
      out += json[i];
    }
  }
  return out;
}

}  // namespace melo::text
