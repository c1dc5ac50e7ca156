#pragma once
// Helpers for writing pages as the site sends them and for reading what
// clients send back.

#include <string>
#include <string_view>

namespace melo::bundled {

// Collects a page line by line in UTF-8 and hands it out the way the site
// sends it: GBK bytes, every line ended by CR LF.
class PageWriter {
 public:
  PageWriter& Line(std::string_view utf8 = {});
  std::string Gbk() const;

 private:
  std::string utf8_;
};

// Any run of slashes as one: the program builds "//song/..." and "...//".
std::string CollapseSlashes(std::string_view path);

// %XX escapes decoded (a malformed escape stays as it is) and '+' as a space,
// as a form value; bytes are not reinterpreted.
std::string PercentDecode(std::string_view text);

// The raw value of `key` in a query ("a=1&b=2"), or "" when it is missing.
std::string_view QueryValue(std::string_view query, std::string_view key);

// Whether GBK `text` holds GBK `needle`, matching only at character starts
// (a needle never matches from the second byte of a two-byte character) and
// ignoring ASCII letter case, as a search box would.
bool GbkContains(std::string_view text, std::string_view needle);

// Minimal HTML escaping of a UTF-8 text for element content and attributes.
std::string HtmlEscape(std::string_view text);

}  // namespace melo::bundled
