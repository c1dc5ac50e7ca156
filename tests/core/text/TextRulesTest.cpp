#include <gtest/gtest.h>

#include <string>

#include "Printers.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"

namespace melo::text {
namespace {

struct FindCase {
  const char* name;
  std::string text;
  std::string marker;
  Pos start;
  Pos expected;
  friend void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }
};

class FindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsOnlyFromCharacterStarts) {
  const FindCase& c = GetParam();
  EXPECT_EQ(Find(c.text, c.marker, c.start), c.expected);
}

// How the text is cut into characters: a lead byte (81-FE) and any byte
// after it are one; 80 and FF stand alone. That Find steps by this rule on any
// text is the text rules fuzz target's; the straddled label is the heading's
// (SongPageParserTest, label_inside_characters).
INSTANTIATE_TEST_SUITE_P(
    Cases, FindTest,
    ::testing::Values(FindCase{"start_at_end", "abc", "", 3, 3},
                      FindCase{"start_beyond_end", "abc", "", 4, -1},
                      FindCase{"negative_start", "abc", "a", -1, -1},
                      FindCase{"second_byte_skipped", "\xB0\x41\x41", "A", 0, 2},
                      FindCase{"odd_lead_run", "\xB0\xB0\xB0\x41", "A", 0, -1},
                      FindCase{"ff_is_single_byte", "\xFF\x41", "A", 0, 1},
                      FindCase{"80_is_single_byte", "\x80\x41", "A", 0, 1},
                      FindCase{"lead_byte_last", "ab\xB0", "\xB0", 0, 2},
                      FindCase{"lead_byte_takes_a_line_feed", "\x81\n\n", "\n", 0, 2}),
    printing::CaseName());

// Substring and Insert clamp their positions as the readers expect; Trim
// takes only single-byte white space (a two-byte space stays); RemoveAll
// scans from the left.
TEST(TextRulesTest, EditsOfAText) {
  EXPECT_EQ(Substring("hello", 1, 3), "ell");
  EXPECT_EQ(Substring("hello", -1, 2), "he");
  EXPECT_EQ(Substring("hello", 1, -5), "");
  EXPECT_EQ(Substring("hello", 3, 99), "lo");
  EXPECT_EQ(Substring("hello", 5, 1), "");
  EXPECT_EQ(Substring("hello", 6, 1), "");
  EXPECT_EQ(Substring("hello", 0, 0), "");
  EXPECT_EQ(Substring("hello", -7, -7), "");
  EXPECT_EQ(Insert("abc", -3, "x"), "xabc");
  EXPECT_EQ(Insert("abc", 1, "x"), "axbc");
  EXPECT_EQ(Insert("abc", 10, "x"), "abcx");
  EXPECT_EQ(Trim(" \t\r\n\v\fab c \t"), "ab c");
  EXPECT_EQ(Trim("\xA1\xA1x\xA1\xA1"), "\xA1\xA1x\xA1\xA1");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(RemoveAll("a?x=1&amp;y=2&amp;amp;z", "amp;"), "a?x=1&y=2&z");
}

TEST(GbkTest, ConvertsBothWaysAndNeverFails) {
  const std::string gbk = "\xB8\xE8\xCA\xD6 Song";
  EXPECT_EQ(Utf8ToGbk("歌手 Song"), gbk);
  EXPECT_EQ(GbkToUtf8(gbk), "歌手 Song");
  // GBK's euro sign is the single byte 0x80 both ways.
  EXPECT_EQ(GbkToUtf8("1\x80"), "1€");
  EXPECT_EQ(Utf8ToGbk("1€"), "1\x80");
  // Bad input never fails:
  EXPECT_EQ(GbkToUtf8("a\xB0"), "a\xEF\xBF\xBD");  // a lead byte cut off at the end
  // A NUL stays, a byte no GBK character starts with shows as a replacement.
  EXPECT_EQ(GbkToUtf8(std::string("a\0\xFF", 3)), std::string("a\0\xEF\xBF\xBD", 5));
  EXPECT_EQ(Utf8ToGbk("x\xF0\x9F\x8E\xB5y"), "x?y");  // no GBK for an emoji
  EXPECT_EQ(Utf8ToGbk("x\xC3y"), "x?y");              // broken UTF-8
}

}  // namespace
}  // namespace melo::text
