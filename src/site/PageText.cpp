#include "site/PageText.h"

#include "core/text/Gbk.h"

namespace melo::bundled {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsGbkLead(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

// Letter case is ignored for single-byte characters only: the trail byte of a
// two-byte character may look like a letter and must match exactly.
bool MatchesAt(std::string_view text, size_t at, std::string_view needle) {
  if (text.size() - at < needle.size())
    return false;
  for (size_t i = 0; i < needle.size(); ++i) {
    if (IsGbkLead(needle[i]) && i + 1 < needle.size()) {
      if (text.compare(at + i, 2, needle.substr(i, 2)) != 0)
        return false;
      ++i;
    } else if (AsciiLower(text[at + i]) != AsciiLower(needle[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

PageWriter& PageWriter::Line(std::string_view utf8) {
  utf8_.append(utf8);
  utf8_.append("\r\n");
  return *this;
}

std::string PageWriter::Gbk() const {
  return text::Utf8ToGbk(utf8_);
}

std::string CollapseSlashes(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/')
      continue;
    out.push_back(c);
  }
  return out;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string_view QueryValue(std::string_view query, std::string_view key) {
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    const auto eq = pair.find('=');
    if (pair.substr(0, eq) == key)
      return eq == std::string_view::npos ? "" : pair.substr(eq + 1);
    if (amp == std::string_view::npos)
      break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

bool GbkContains(std::string_view text, std::string_view needle) {
  if (needle.empty())
    return true;
  for (size_t at = 0; at < text.size(); at += IsGbkLead(text[at]) ? 2 : 1) {
    if (MatchesAt(text, at, needle))
      return true;
  }
  return false;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace melo::bundled
