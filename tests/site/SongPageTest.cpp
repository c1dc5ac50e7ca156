#include <gtest/gtest.h>

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
using text::Substring;
using text::Trim;

// What the program cuts out of a song page, found the way it searches: the
// first line dropped, text up to the first line with "cache".
struct SongPageCut {
  std::string title, singer, singerPath, mediaPath, serverPart, afterServer;
  size_t linesBeforeMedia = 0;
  std::string textBeforeMedia;
};

SongPageCut Cut(std::string_view page) {
  SongPageCut cut;
  const auto lines = testing::Lines(page);
  std::string media;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (text::Contains(lines[i], "cache")) {
      media = lines[i];
      break;
    }
    cut.textBeforeMedia += lines[i];
    ++cut.linesBeforeMedia;
  }
  const auto& t = cut.textBeforeMedia;
  const Pos titleStart = Find(t, "<h1>") + 4;
  const Pos label = Find(t, Gbk("歌手 "));
  cut.title = Trim(Substring(t, titleStart, label - titleStart));
  cut.singer = Trim(Substring(t, label + 4, Find(t, "</h1>", titleStart) - label - 4));
  const Pos pathStart = Find(t, "href='/singer") + 7;
  cut.singerPath = Substring(t, pathStart, Find(t, "target=", pathStart) - 2 - pathStart);
  const Pos cache = Find(media, "cache");
  const Pos pathEnd = Find(media, "preview", cache);
  cut.mediaPath = Substring(media, cache, pathEnd - cache);
  const Pos server = Find(media, "http://", pathEnd);
  const Pos listen = Find(media, "ListenLog", pathEnd);
  cut.serverPart = Substring(media, server, listen - 3 - server);
  cut.afterServer = Substring(media, listen - 3, 12);
  return cut;
}

class SongPageTest : public ::testing::Test {
 protected:
  BundledSite site_;
  testing::SiteClient client_{site_};
};

TEST_F(SongPageTest, EverySongPageCarriesItsMarkersInOrder) {
  for (const auto& song : DemoCatalogue().Songs()) {
    SCOPED_TRACE(song.id);
    const auto reply = client_.Get("//song/" + song.id + "/");
    ASSERT_EQ(reply.status, 200);
    const auto cut = Cut(reply.body);
    EXPECT_EQ(cut.title, Gbk(song.title));
    EXPECT_EQ(cut.singer, Gbk(song.singer));
    EXPECT_EQ(cut.singerPath, "singer/" + song.singerId + "/");
    EXPECT_EQ(cut.mediaPath, "cache/mp3/" + song.id + "/");
    EXPECT_EQ(cut.serverPart, "http://" + site_.Host() + "/");
    EXPECT_LE(cut.serverPart.size(), 30u);
    EXPECT_EQ(cut.afterServer, "','ListenLog");
    // Each marker that is searched from the start must be the heading's own.
    const auto& t = cut.textBeforeMedia;
    EXPECT_LT(Find(t, "<h1>"), Find(t, Gbk("歌手 ")));
    EXPECT_EQ(Find(t, Gbk("歌手 "), Find(t, Gbk("歌手 ")) + 1), kNotFound);
    EXPECT_EQ(Find(t, "href='/singer", Find(t, "href='/singer") + 1), kNotFound);
    EXPECT_GT(reply.body.size(), 20'000u) << "the rest of the page is missing";
  }
}

TEST_F(SongPageTest, IsGbkWithCrLfAndADroppableFirstLine) {
  const auto page = client_.Get("/song/2244440/").body;  // a title outside GB2312
  EXPECT_EQ(page.rfind("<!DOCTYPE", 0), 0u);
  EXPECT_NE(page.find(Gbk("與你同行")), std::string::npos);
  size_t lf = 0;
  for (size_t at = page.find('\n'); at != std::string::npos; at = page.find('\n', at + 1)) {
    ++lf;
    EXPECT_EQ(page[at - 1], '\r') << "bare LF at " << at;
  }
  EXPECT_GT(lf, 100u);
}

TEST_F(SongPageTest, MediaAddressLeadsToTheSongsAudio) {
  const auto& song = *DemoCatalogue().FindSong("2244436");
  const auto cut = Cut(client_.Get("/song/2244436/").body);
  const auto mp3 = cut.serverPart + cut.mediaPath + cut.title + ".mp3";
  ASSERT_EQ(mp3.rfind("http://" + site_.Host(), 0), 0u);
  const auto path = mp3.substr(("http://" + site_.Host()).size());
  const auto reply = client_.Get(testing::PercentEncode(path));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, song.audio);
}

// Recorded edge pages under tests/data/pages, each still a song for a
// reader that steps through GBK characters and drops the first line.
TEST(RecordedSongPages, KeepTheirSongForACarefulReader) {
  BundledSite site(testing::OptionsWith([](auto& o) { o.pagesDir = MELO_TEST_PAGES_DIR; }));
  testing::SiteClient client(site);
  const struct {
    const char* id;
    const char* title;
    const char* mediaId;
  } cases[] = {
      {"9000001", "雨停之前", "2244439"},      // "cache" on the first line
      {"9000003", "與ache", "5902118"},        // "cache" from a character's second byte
      {"9000004", "Winter Radio", "5902119"},  // "Cache-Control" in the head
  };
  for (const auto& c : cases) {
    const auto cut = Cut(client.Get(std::string("/song/") + c.id + "/").body);
    EXPECT_EQ(cut.title, Gbk(c.title)) << c.id;
    EXPECT_EQ(cut.mediaPath, std::string("cache/mp3/") + c.mediaId + "/") << c.id;
    EXPECT_EQ(cut.serverPart, "http://" + site.Host() + "/") << c.id;
  }
  const auto missing = client.Get("/song/9000002/").body;
  EXPECT_EQ(missing.find("cache"), std::string::npos);
  EXPECT_NE(missing.find("404"), std::string::npos);
}

}  // namespace
}  // namespace melo::bundled
