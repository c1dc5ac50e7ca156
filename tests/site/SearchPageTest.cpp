#include <gtest/gtest.h>

#include <algorithm>

#include "SiteClient.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using text::Find;
using text::Gbk;
using text::kNotFound;
using text::Pos;

struct Found {
  std::vector<std::string> songHrefs;
  std::vector<std::pair<std::string, std::string>> singers;  // href, name
  Pos firstLink = kNotFound;
};

// The program's two scans over the page text (first line dropped): song
// links from the song section on, singer rows from the singer section on.
Found ScanResults(const std::string& t) {
  Found found;
  found.firstLink = Find(t, "<a href=\"/");
  for (Pos e = Find(t, "<a href=\"/song", Find(t, Gbk("mid_tit\">歌曲"))); e != kNotFound;) {
    const Pos d = Find(t, "\">", e + 9);
    found.songHrefs.push_back(text::Substring(t, e + 9, d - e - 9));
    e = Find(t, "<a href=\"/song", d);
  }
  for (Pos e = Find(t, "<a href=\"/singer", Find(t, Gbk("mid_tit\">歌手"))); e != kNotFound;) {
    const Pos d = Find(t, "\">", e + 9);
    const Pos f = Find(t, "</a> </td>", d);
    if (f == kNotFound)
      break;
    found.singers.emplace_back(text::Substring(t, e + 9, d - e - 9),
                               text::Substring(t, d + 3, f - d - 3));
    e = Find(t, "<a href=\"/singer", d);
  }
  return found;
}

bool Holds(std::string text, std::string word) {
  auto lower = [](std::string& s) { std::ranges::transform(s, s.begin(), ::tolower); };
  lower(text);
  lower(word);
  return text.find(word) != std::string::npos;
}

// What a search should find, worked out on the UTF-8 texts, where a keyword
// cannot match from the middle of a character.
Found Expected(const std::string& keyword) {
  Found expected;
  if (keyword.empty())
    return expected;
  for (const auto& song : DemoCatalogue().Songs()) {
    if (Holds(song.title, keyword) || Holds(song.singer, keyword)) {
      expected.songHrefs.push_back("/song/" + song.id + "/");
    }
  }
  for (const auto& singer : DemoCatalogue().Singers()) {
    if (Holds(singer.name, keyword)) {
      expected.singers.emplace_back("/singer/" + singer.id + "/", Gbk(singer.name));
    }
  }
  return expected;
}

class SearchPageTest : public ::testing::Test {
 protected:
  Found Search(const std::string& encodedKeyword) {
    const auto reply = client_.Get("/search.php?type=&keyword=" + encodedKeyword);
    EXPECT_EQ(reply.status, 200);
    const auto t = testing::TextAfterFirstLine(reply.body);
    EXPECT_NE(Find(t, Gbk("mid_tit\">歌曲")), kNotFound);
    EXPECT_NE(Find(t, Gbk("mid_tit\">歌手")), kNotFound);
    return ScanResults(t);
  }

  BundledSite site_;
  testing::SiteClient client_{site_};
};

TEST_F(SearchPageTest, FindsSongsAndSingersByKeyword) {
  const struct {
    std::string keyword;  // UTF-8
    bool percentEncoded;
  } cases[] = {
      {"林晚风", true},  // Chinese, sent as percent-encoded GBK
      {"潮汐", false},   // raw GBK bytes in the request line
      {"paper", true},   // Latin letters in another case
      {"c", true},       // 與 carries 'c' as its second GBK byte: no match there
      {"Velvet", false}, {"no such song", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    const auto gbk = Gbk(c.keyword);
    const auto found = Search(c.percentEncoded ? testing::PercentEncode(gbk) : gbk);
    const auto expected = Expected(c.keyword);
    EXPECT_EQ(found.songHrefs, expected.songHrefs);
    EXPECT_EQ(found.singers, expected.singers);
    EXPECT_GE(found.firstLink, 100);
  }
}

TEST_F(SearchPageTest, EmptyKeywordGivesEmptySections) {
  const auto found = Search("");
  EXPECT_TRUE(found.songHrefs.empty());
  EXPECT_TRUE(found.singers.empty());
}

TEST_F(SearchPageTest, EverySongLinkLeadsToASongPage) {
  const auto found = Search(testing::PercentEncode(Gbk("夏")));
  ASSERT_FALSE(found.songHrefs.empty());
  for (const auto& href : found.songHrefs) {
    // SiteBase + href: two slashes after the host.
    EXPECT_EQ(client_.Get("/" + href).status, 200) << href;
  }
}

}  // namespace
}  // namespace melo::bundled
