#pragma once
// How a failing test shows the program's values: records and texts as text
// (GBK decoded), enums by name, table cases by their name, so that neither a
// failure nor `ctest -N` ever shows a byte dump.

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

#include "core/scrape/SongPageParser.h"
#include "core/scrape/SongRecord.h"
#include "core/text/Gbk.h"

#ifdef QT_CORE_LIB
#include <QString>
#endif

namespace melo::printing {

// GBK bytes as the text they stand for, quoted.
inline void PrintGbk(std::string_view gbk, std::ostream* os) {
  *os << '"' << text::GbkToUtf8(std::string(gbk)) << '"';
}

// An enum's value by its name in `names`, in declaration order.
template <class Enum, std::size_t N>
void PrintName(Enum value, const char* const (&names)[N], std::ostream* os) {
  const auto index = static_cast<std::size_t>(value);
  *os << (index < N ? names[index] : "?");
}

// The case's own name as a GoogleTest name: anything but a letter or a digit
// becomes '_'.
struct CaseName {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    std::string name = info.param.name;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)))
        c = '_';
    }
    return name;
  }
};

}  // namespace melo::printing

namespace melo::scrape {

inline void PrintTo(const SongRecord& r, std::ostream* os) {
  *os << "SongRecord{";
  for (const std::string* field :
       {&r.singer, &r.title, &r.downloadLink, &r.singerLink, &r.songLink}) {
    printing::PrintGbk(*field, os);
    *os << (field == &r.songLink ? "}" : ", ");
  }
}

inline void PrintTo(const SingerRecord& r, std::ostream* os) {
  *os << "SingerRecord{";
  printing::PrintGbk(r.singer, os);
  *os << ", ";
  printing::PrintGbk(r.singerLink, os);
  *os << '}';
}

inline void PrintTo(const Song& s, std::ostream* os) {
  PrintTo(SongRecord{s.singer, s.title, s.downloadLink, s.singerLink, ""}, os);
}

inline void PrintTo(ParseExit exit, std::ostream* os) {
  printing::PrintName(exit,
                      {"kParsed", "kOpenFailed", "kReadFailed", "kStopped", "kNoMediaLine",
                       "kSingerPathLength", "kNoPathEnd", "kMediaPathTooLong", "kNoListenLog",
                       "kNoServerStart", "kServerPartTooLong", "kLinkTooShort"},
                      os);
}

}  // namespace melo::scrape

#ifdef QT_CORE_LIB
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
#endif
