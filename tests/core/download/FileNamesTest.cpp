// Singer and title are hostile page text: every name stays in the folder and
// fits the file system.

#include <gtest/gtest.h>

#include "core/download/Download.h"
#include "core/download/FileNames.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

struct NameCase {
  const char* name;
  std::string singer;  // UTF-8
  std::string title;
  std::string expected;
  bool windows = false;
  std::string nameTemplate = "{singer} - {title}.mp3";
};

std::string Cjk(int characters) {
  std::string text;
  while (characters-- > 0)
    text += "歌";
  return text;
}

TEST(FileNameTest, GivesTheSafeNameOfHostileText) {
  const NameCase cases[] = {
      {"Slashes", "AC/DC", "a/../../b", "AC_DC - a_.._.._b.mp3"},
      {"DotsAndBlanksOnly", ". .", " . . ", "_ - _.mp3"},
      {"ControlBytes", "a\1b", "x\ty\x7f", "a_b - x_y_.mp3"},
      {"RightToLeftOverride", "s", "invoice\u202Egpj.exe", "s - invoice_gpj.exe.mp3"},
      {"BidiIsolatesAndMarks", "\u2066a\u2069\u200E\u200F\u061C", "\u202A\u202Bb\u202C\u202D",
       "_a____ - __b__.mp3"},
      {"SeparatorsAndC1", "a\u2028b\u2029c", "x\u0085y\u009Bz\u0080", "a_b_c - x_y_z_.mp3"},
      {"InvisibleFormatCharacters", "a\u200Bb\uFEFFc\u00ADd", "t", "a_b_c_d - t.mp3"},
      {"OrdinaryTextKept", "周杰伦", "Ünïcödé ½ — 稻香", "周杰伦 - Ünïcödé ½ — 稻香.mp3"},
      {"BlanksAndTrailingDots", "  Singer ", "Title... ", "Singer - Title.mp3"},
      {"Empty", "", "", "_ - _.mp3"},
      // 250 bytes leave room for ".part"; "歌手 - " is 9 bytes, ".mp3" 4: 237
      // bytes of title, cut back to 79 whole characters.
      {"LongCjkCutAtCharacter", "歌手", Cjk(200), "歌手 - " + Cjk(79) + ".mp3"},
      {"WindowsCharacters", "a:b", "why?<\"*|>\\", "a_b - why_______.mp3", true},
      {"WindowsCharactersKeptOnLinux", "a:b", "why?", "a:b - why?.mp3"},
      {"TemplateCannotClimbOut", "s", "t", ".._s_t.mp3", false, "../{singer}/{title}.{ext}"},
      {"TemplateOnlyDots", "s", "t", "_", false, ".."}};
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = RenderFileName(c.nameTemplate, c.singer, c.title, "mp3", c.windows);
    EXPECT_EQ(name, c.expected);
    EXPECT_LE(name.size() + kPartSuffix.size(), kMaxNameBytes);
  }
}

// Page text cannot start a line of its own in a playlist, nor hide in one.
TEST(M3u8Test, PageTextStaysOnItsLine) {
  const scrape::SongRecord song{"s", "a\r\nb\x1b[2J\x7f", "\"http://h/t.mp3\"", "", ""};
  EXPECT_EQ(M3u8Playlist({song}), "#EXTM3U\n#EXTINF:-1,s - a  b [2J \nhttp://h/t.mp3\n");
}

}  // namespace
}  // namespace melo::download
