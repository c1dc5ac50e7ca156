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
  friend void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }
};

std::string Cjk(int characters) {
  std::string text;
  while (characters-- > 0)
    text += "歌";
  return text;
}

class FileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, GivesTheSafeName) {
  const NameCase& c = GetParam();
  const DownloadOptions options{.nameTemplate = c.nameTemplate, .windowsNames = c.windows};
  const scrape::SongRecord song{text::Utf8ToGbk(c.singer), text::Utf8ToGbk(c.title), "", "", ""};
  const std::string name = FileNameFor(song, options);
  EXPECT_EQ(name, c.expected);
  EXPECT_LE(name.size() + kPartSuffix.size(), kMaxNameBytes);
}

INSTANTIATE_TEST_SUITE_P(
    HostileText, FileNameTest,
    ::testing::Values(
        NameCase{"Slashes", "AC/DC", "a/../../b", "AC_DC - a_.._.._b.mp3"},
        NameCase{"DotsAndBlanksOnly", ". .", " . . ", "_ - _.mp3"},
        NameCase{"ControlBytes", "a\1b", "x\ty\x7f", "a_b - x_y_.mp3"},
        NameCase{"BlanksAndTrailingDots", "  Singer ", "Title... ", "Singer - Title.mp3"},
        NameCase{"Empty", "", "", "_ - _.mp3"},
        // 250 bytes leave room for ".part"; "歌手 - " is 9 bytes, ".mp3" 4: 237
        // bytes of title, cut back to 79 whole characters.
        NameCase{"LongCjkCutAtCharacter", "歌手", Cjk(200), "歌手 - " + Cjk(79) + ".mp3"},
        NameCase{"WindowsCharacters", "a:b", "why?<\"*|>\\", "a_b - why_______.mp3", true},
        NameCase{"WindowsCharactersKeptOnLinux", "a:b", "why?", "a:b - why?.mp3"},
        NameCase{"TemplateCannotClimbOut", "s", "t", ".._s_t.mp3", false,
                 "../{singer}/{title}.{ext}"},
        NameCase{"TemplateOnlyDots", "s", "t", "_", false, ".."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace melo::download
