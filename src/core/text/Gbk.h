#pragma once
// Conversion between the site's code page (GBK) and UTF-8, for showing page
// texts and for taking what the user types. Pages themselves stay GBK bytes.

#include <string>
#include <string_view>

namespace melo::text {

// How a text is converted: ASCII copied as it is and the rest through iconv,
// or every byte through iconv (what the tests hold the other to).
enum class Conversion { kAsciiCopied, kAllThroughIconv };

// Bytes that GBK cannot decode come out as U+FFFD; the conversion never fails.
std::string GbkToUtf8(std::string_view gbk, Conversion how = Conversion::kAsciiCopied);

// Characters that GBK cannot hold come out as '?'; invalid UTF-8 bytes too.
std::string Utf8ToGbk(std::string_view utf8, Conversion how = Conversion::kAsciiCopied);

// Loads what both conversions need and keeps it loaded for the whole run;
// the first conversion does so too. Safe from any thread, at any time.
void PrepareConversions();

// A program literal written in UTF-8 in the source, as the GBK bytes the
// program compares and writes. Converted once per call site by the caller
// keeping the result (see StatusTexts.h).
inline std::string Gbk(std::string_view utf8) {
  return Utf8ToGbk(utf8);
}

}  // namespace melo::text
