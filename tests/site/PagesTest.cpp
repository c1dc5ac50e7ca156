// Every page carries what the program's own readers cut out of it.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "Printers.h"
#include "SiteFixture.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/SongPageParser.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"
#include "core/update/UpdateCheck.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using scrape::ReadSongPage;
using text::Gbk;

// The parser drops the first line and stops at the first line with "cache",
// so the heading and the singer anchor must come before it.
TEST_F(SiteTest, EverySongPageGivesItsSong) {
  for (const auto& song : DemoCatalogue().Songs()) {
    const std::string title = Gbk(song.title);
    const scrape::Song expected{
        Gbk(song.singer), title,
        "\"" + site::SiteBase() + "cache/mp3/" + song.id + "/" + title + ".mp3\"",
        site::SiteBaseWww() + "singer/" + song.singerId + "/"};
    const auto result = ReadSongPage(site::SiteBase() + "/song/" + song.id + "/");
    EXPECT_EQ(result.exit, scrape::ParseExit::kParsed) << song.id;
    EXPECT_EQ(result.song, expected) << song.id;
  }
}

int Occurrences(std::string_view text, std::string_view marker) {
  int count = 0;
  for (text::Pos at = text::Find(text, marker); at != text::kNotFound;
       at = text::Find(text, marker, at + 1))
    ++count;
  return count;
}

TEST_F(SiteTest, EveryListEntryLeadsToASongPage) {
  using scrape::ListPage;
  const struct {
    std::string address;
    scrape::CrawlPattern pattern;
    std::size_t entries;
  } cases[] = {
      {scrape::ListPageAddress(ListPage::kChart), scrape::kListPattern, 20},
      {scrape::ListPageAddress(ListPage::kListening), scrape::kListPattern, 15},
      {scrape::ListPageAddress(ListPage::kRecommended), scrape::kRecommendPattern, 12},
      {site::SiteBaseWww() + "singer/42/", scrape::kListPattern,
       DemoCatalogue().SongsOf("42").size()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const std::string page = ReadPage(c.address);
    const auto ids = scrape::ScanSongIds(page, c.pattern);
    EXPECT_EQ(ids.size(), c.entries);
    EXPECT_GT(Occurrences(page, c.pattern.opening), static_cast<int>(ids.size()))
        << "no decoys for the crawler to pass over";
    for (const auto& id : ids)
      EXPECT_TRUE(ReadSongPage(scrape::SongAddressOfId(id)).Parsed()) << id;
  }
  // The crawler keeps the first line, so the chart starts its list there.
  const std::string chartAfterFirstLine = ReadPage(cases[0].address, false);
  EXPECT_EQ(scrape::ScanSongIds(chartAfterFirstLine, scrape::kListPattern).size(), 19u);
}

bool HoldsIgnoringCase(std::string text, std::string word) {
  for (std::string* each : {&text, &word}) {
    for (char& c : *each)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text.find(word) != std::string::npos;
}

// What a search should find is worked out on the UTF-8 texts, where a keyword
// cannot match from the second byte of a character.
TEST_F(SiteTest, SearchFindsSongsAndSingersThatLeadToTheirPages) {
  // 與 carries 'c' as its second GBK byte: no match there.
  for (const std::string keyword : {"林晚风", "paper", "c", "no such song", ""}) {
    SCOPED_TRACE(keyword);
    std::vector<std::string> songLinks;
    std::vector<scrape::SingerRecord> singers;
    for (const auto& song : DemoCatalogue().Songs()) {
      if (!keyword.empty() &&
          (HoldsIgnoringCase(song.title, keyword) || HoldsIgnoringCase(song.singer, keyword)))
        songLinks.push_back(site::SiteBase() + "/song/" + song.id + "/");
    }
    for (const auto& singer : DemoCatalogue().Singers()) {
      if (!keyword.empty() && HoldsIgnoringCase(singer.name, keyword))
        singers.push_back({Gbk(singer.name), site::SiteBase() + "/singer/" + singer.id + "/"});
    }
    // The reader sends the GBK keyword percent-encoded, as the search does.
    const std::string page = ReadPage(scrape::SearchAddress(Gbk(keyword)), false);
    EXPECT_EQ(scrape::ScanSongLinks(page), songLinks);
    EXPECT_EQ(scrape::ScanSingers(page), singers);
    for (const auto& link : songLinks)
      EXPECT_TRUE(ReadSongPage(link).Parsed()) << link;
  }
}

TEST(UpdatePage, AnnouncesTheLatestVersionAndItsDownload) {
  for (const std::string version : {"v1.5", "v1.6"}) {
    SCOPED_TRACE(version);
    const BundledSite site(OptionsWith([&](auto& o) { o.latestVersion = version; }));
    site::SetSiteHost(site.Host());
    const auto finding = update::EvaluateUpdatePage(update::ReadUpdatePage());
    EXPECT_EQ(finding.latestVersion, version);
    if (version == update::kRunningVersion) {
      EXPECT_EQ(finding.verdict, update::UpdateVerdict::kUpToDate);
      continue;
    }
    EXPECT_EQ(finding.verdict, update::UpdateVerdict::kNewer);
    ASSERT_EQ(finding.downloadAddress, site::SiteBase() + "melodriftdown/download/melodriftdown-" +
                                           version + ".zip?from=update&v=" + version.substr(1));
    EXPECT_TRUE(ReadPage(*finding.downloadAddress).starts_with("PK"));
  }
}

}  // namespace
}  // namespace melo::bundled
