#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>

#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"
#include "core/text/TextRules.h"

namespace melo::text {
namespace {

// Which bytes lead a two-byte character: 81-FE; 80 and FF stand alone. That
// Find steps by this rule on any text, from any start, is the text rules fuzz
// target's; the straddled label is the heading's (SongPageParserTest,
// label_inside_characters).
TEST(TextRulesTest, FindsOnlyFromCharacterStarts) {
  EXPECT_EQ(Find("\xB0\x41\x41", "A", 0), 2);  // the second byte of a character is skipped
  EXPECT_EQ(Find("\xFF\x41", "A", 0), 1);
  EXPECT_EQ(Find("\x80\x41", "A", 0), 1);
  EXPECT_EQ(Find("\x81\n\n", "\n", 0), 2);  // a lead byte takes even a line feed
}

// FindBytes gives memmem's answer by each way it has of looking on this
// processor: the marker at every place of texts around the vectors' steps,
// with near misses (first and last byte alike, the middle not) before it.
TEST(TextRulesTest, FindBytesAgreesWithMemmem) {
  for (const auto search : {ByteSearch::kFastest, ByteSearch::kVectors32, ByteSearch::kPortable})
    for (const std::string marker : {"ab", "cache", "ListenLog"}) {
      std::string miss = marker;
      if (marker.size() > 2)
        miss[1] = '#';
      for (std::size_t size = 0; size < 200; ++size) {
        for (std::size_t place = 0; place <= size; ++place) {
          std::string text;
          while (text.size() < size)
            text += miss + "xy";
          text.resize(size);
          if (place + marker.size() <= size)
            text.replace(place, marker.size(), marker);
          const void* hit = memmem(text.data(), text.size(), marker.data(), marker.size());
          const std::size_t expected =
              hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
                  : std::string_view::npos;
          ASSERT_EQ(FindBytes(text, marker, search), expected) << marker << " in " << text;
        }
      }
    }
}

// Substring and Insert clamp their positions as the readers expect; Trim
// takes only single-byte white space (that a two-byte space stays is the
// heading's, double_byte_space_kept); RemoveAll scans from the left.
TEST(TextRulesTest, EditsOfAText) {
  EXPECT_EQ(Substring("hello", 1, 3), "ell");
  EXPECT_EQ(Substring("hello", -1, 2), "he");
  EXPECT_EQ(Substring("hello", 3, 99), "lo");
  for (const auto& [start, count] : {std::pair{1, -5}, {5, 1}, {6, 1}, {0, 0}, {-7, -7}})
    EXPECT_EQ(Substring("hello", start, count), "") << start << ", " << count;
  EXPECT_EQ(Insert("abc", -3, "x"), "xabc");
  EXPECT_EQ(Insert("abc", 1, "x"), "axbc");
  EXPECT_EQ(Insert("abc", 10, "x"), "abcx");
  EXPECT_EQ(Trim(" \t\r\n\v\fab c \t"), "ab c");
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

// Copying the ASCII between the other bytes gives what converting every byte
// gives, where ASCII bytes stand inside characters (GBK's second and
// GB18030's fourth bytes), after broken ones, and at the end.
TEST(GbkTest, CopiedAsciiChangesNothing) {
  const std::string pieces[] = {"a",
                                "ab",
                                "\xB8\xE8",
                                "\x81\x41",
                                "\x81\x30",
                                "\x81\x30\x81\x30",
                                "\x80",
                                "\xFF",
                                "\xE6\xAD\x8C",
                                "\xC3",
                                "\xF0\x9F\x8E\xB5",
                                "\x30",
                                "\xB0",
                                std::string(1, '\0')};
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (auto count = random() % 8; count > 0; --count)
      text += pieces[random() % std::size(pieces)];
    EXPECT_EQ(GbkToUtf8(text), GbkToUtf8(text, Conversion::kAllThroughIconv)) << TerminalSafe(text);
    EXPECT_EQ(Utf8ToGbk(text), Utf8ToGbk(text, Conversion::kAllThroughIconv)) << TerminalSafe(text);
  }
}

}  // namespace
}  // namespace melo::text
