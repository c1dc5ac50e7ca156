#include "core/text/Gbk.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>

namespace melo::text {
namespace {

// iconv's names of both directions; the run holds a descriptor of each (see
// PrepareConversions).
struct Direction {
  const char* to;
  const char* from;
};
constexpr Direction kGbkToUtf8{"UTF-8", "GB18030"};
constexpr Direction kUtf8ToGbk{"GBK", "UTF-8"};

// One iconv descriptor for one conversion call; iconv_t is not thread-safe,
// so none is shared.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Appends `in` converted to `out`; at an invalid or unconvertible sequence
  // it writes `replacement(rest)`, skips `skip(rest)` bytes and goes on.
  template <typename Replacement, typename Skip>
  void Run(std::string_view in, std::string& out, Replacement replacement, Skip skip) {
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc != static_cast<size_t>(-1))
        continue;
      if (errno == E2BIG)
        continue;
      // EILSEQ or EINVAL (a sequence cut off at the end).
      out.append(replacement(std::string_view(src, srcLeft)));
      const size_t n = std::min(srcLeft, skip(std::string_view(src, srcLeft)));
      src += n;
      srcLeft -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  iconv_t cd_;
};

bool IsAscii(char c) {
  return static_cast<unsigned char>(c) < 0x80;
}

// Where the bytes from `from` on that are not plain ASCII end: before two
// ASCII bytes in a row. A GBK character's second (or GB18030's fourth) byte
// may be ASCII, but it always follows a byte that is not, so the second of
// two ASCII bytes starts a character in either encoding; in UTF-8 every ASCII
// byte does. A page is mostly markup: converting only these stretches, and
// copying the ASCII between them, gives the same text several times faster.
size_t EndOfNonAscii(std::string_view in, size_t from) {
  for (size_t at = from + 1; at < in.size(); ++at) {
    if (IsAscii(in[at]) && IsAscii(in[at - 1]))
      return at;
  }
  return in.size();
}

template <typename Replacement, typename Skip>
std::string Convert(std::string_view in, Conversion how, const char* to, const char* from,
                    Replacement replacement, Skip skip) {
  std::string out;
  out.reserve(in.size() * 3 / 2 + 16);
  std::optional<Converter> converter;
  auto convert = [&](std::string_view part) {
    if (!converter) {
      PrepareConversions();
      converter.emplace(to, from);
    }
    converter->Run(part, out, replacement, skip);
  };
  if (how == Conversion::kAllThroughIconv) {
    convert(in);
    return out;
  }
  for (size_t at = 0; at < in.size();) {
    const size_t ascii = at;
    while (at < in.size() && IsAscii(in[at]))
      ++at;
    out.append(in.substr(ascii, at - ascii));
    if (at == in.size())
      break;
    const size_t end = EndOfNonAscii(in, at);
    convert(in.substr(at, end - at));
    at = end;
  }
  return out;
}

size_t Utf8SequenceLength(std::string_view s) {
  const auto b = static_cast<unsigned char>(s[0]);
  size_t n = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  // Only skip the continuation bytes that are really there.
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
    ++i;
  return i;
}

size_t GbkSequenceLength(std::string_view s) {
  return (s.size() >= 2 && static_cast<unsigned char>(s[0]) >= 0x81) ? 2 : 1;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk, Conversion how) {
  // GB18030 decodes everything GBK does, plus its four-byte characters, but
  // for the single byte 0x80: GBK's euro sign (what Utf8ToGbk writes for it).
  return Convert(
      gbk, how, kGbkToUtf8.to, kGbkToUtf8.from,
      [](std::string_view rest) {
        return rest[0] == '\x80' ? std::string_view("\xE2\x82\xAC") : "\xEF\xBF\xBD";
      },
      GbkSequenceLength);
}

std::string Utf8ToGbk(std::string_view utf8, Conversion how) {
  return Convert(
      utf8, how, kUtf8ToGbk.to, kUtf8ToGbk.from,
      [](std::string_view) { return std::string_view("?"); }, Utf8SequenceLength);
}

// glibc unloads a converter's module once no converter of it is open, and
// loads it again for the next one: a conversion call would then load and
// unload a library, under the loader's locks, while other threads convert.
// One descriptor of each direction, open for the whole run, holds both.
void PrepareConversions() {
  static const iconv_t held[] = {iconv_open(kGbkToUtf8.to, kGbkToUtf8.from),
                                 iconv_open(kUtf8ToGbk.to, kUtf8ToGbk.from)};
  static_cast<void>(held);
}

}  // namespace melo::text
