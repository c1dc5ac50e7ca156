// The scans' limits and markers. Their stepping rules are checked against
// reference scans on any page by fuzz/fuzz_crawl_scan.cpp and fuzz_search_scan.cpp.

#include <gtest/gtest.h>

#include "Printers.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/StatusTexts.h"
#include "core/site/Site.h"

namespace melo::scrape {
namespace {

using Ids = std::vector<std::string>;

struct CrawlScanCase {
  const char* name;
  std::string page;
  Ids ids;
  const CrawlPattern* pattern = &kListPattern;
  friend void PrintTo(const CrawlScanCase& c, std::ostream* os) { *os << c.name; }
};

class CrawlScanTest : public ::testing::TestWithParam<CrawlScanCase> {};

TEST_P(CrawlScanTest, FindsTheAcceptedIds) {
  const CrawlScanCase& c = GetParam();
  EXPECT_EQ(ScanSongIds(c.page, *c.pattern), c.ids);
}

// The start of a list entry and of a recommendation, up to the title.
std::string WL(std::string_view head, std::string_view id) {
  return "WL(\"" + std::string(head) + "\",\"" + std::string(id) + "\",\"";
}
std::string MSL(std::string_view head, std::string_view id) {
  return "MSL(\"" + std::string(head) + "\", \"" + std::string(id) + "\", \"";
}
const std::string k7(7, 'a'), k90(90, 'a'), k14(14, '7');

const CrawlScanCase kCrawlScanCases[] = {
    {"two_entries",
     "a " + WL("1", "2244436") + "T\") b " + WL("2", "1000001"),
     {"2244436", "1000001"}},
    {"id_14", WL("1", k14), {k14}},
    {"id_15", WL("1", k14 + "7"), {}},
    {"head_7", WL(k7, "9"), {"9"}},
    {"head_8", WL(k7 + "a", "9"), {}},
    {"recommend_head_90", MSL(k90, "9"), {"9"}, &kRecommendPattern},
    {"recommend_head_91", MSL(k90 + "a", "9"), {}, &kRecommendPattern},
    // A rejected candidate is passed over; a missing separator ends the scan.
    {"after_rejected", WL("navigation", "x") + "y\") " + WL("1", "77"), {"77"}},
    {"no_second_separator_ends_scan", WL("1", "5") + "\") WL(\"1\",\"123\") tail", {"5"}},
    {"list_set_ignores_recommend", MSL("Title", "5") + "x\")", {}},
};
INSTANTIATE_TEST_SUITE_P(Cases, CrawlScanTest, ::testing::ValuesIn(kCrawlScanCases),
                         printing::CaseName());

class SearchScanTest : public ::testing::Test {
 protected:
  void SetUp() override { site::SetSiteHost("site.test"); }

  // Pads the page so that its first link lands past the minimum offset.
  static std::string Page(const std::string& body) { return std::string(120, ' ') + body; }
};

TEST_F(SearchScanTest, LinksFromTheirSectionOnAndPastIt) {
  const std::string page = Page("<a href=\"/song/1/\">before</a>" + texts::kSongSection +
                                "<a href=\"/song/2/\">x</a><a href=\"/singer/9/\">s</a>" +
                                texts::kSingerSection + "<a href=\"/song/3/\">late</a>");
  EXPECT_EQ(ScanSongLinks(page), (Ids{"http://site.test//song/2/", "http://site.test//song/3/"}));
  // No section, no links.
  EXPECT_TRUE(ScanSongLinks(Page("<a href=\"/song/2/\">x</a>")).empty());
  EXPECT_TRUE(ScanSingers(Page("<a href=\"/singer/2/\"> x</a> </td>")).empty());
}

TEST_F(SearchScanTest, LinkBeforeOffset100EndsTheScan) {
  // The href value starts 9 bytes after the marker: a marker at 90 puts it at
  // 99, at 91 it is at 100.
  const auto pageWithMarkerAt = [](size_t at) {
    std::string head = texts::kSongSection;
    head += std::string(at - head.size(), ' ');
    return head + "<a href=\"/song/2/\">x</a>";
  };
  EXPECT_TRUE(ScanSongLinks(pageWithMarkerAt(90)).empty());
  EXPECT_EQ(ScanSongLinks(pageWithMarkerAt(91)).size(), 1u);
}

TEST_F(SearchScanTest, SingerNamesStartOneByteAfterTheLink) {
  EXPECT_EQ(ScanSingers(Page(texts::kSingerSection + "<td><a href=\"/singer/42/\"> Name</a> </td>" +
                             "<a href=\"/singer/1/\"> </a> </td>")),
            (std::vector<SingerRecord>{{"Name", "http://site.test//singer/42/"},
                                       {"", "http://site.test//singer/1/"}}));
}

// The search keyword goes in unchanged; a song address ends in two slashes.
TEST(AddressTest, AddressesTheRunsRead) {
  site::SetSiteHost("site.test");
  EXPECT_EQ(SearchAddress("a b&c\xB8\xE8"),
            "http://site.test/search.php?type=&keyword=a b&c\xB8\xE8");
  EXPECT_EQ(SearchAddress(""), "http://site.test/search.php?type=&keyword=");
  EXPECT_EQ(SongAddressOfId("2244436"), "http://www.site.test/song/2244436//");
  EXPECT_EQ(SongAddressOfId(""), "http://www.site.test/song///");
  EXPECT_EQ(ListPageAddress(ListPage::kChart), "http://site.test/music/chart");
  EXPECT_EQ(ListPageAddress(ListPage::kListening), "http://site.test/music/lsn/");
  EXPECT_EQ(ListPageAddress(ListPage::kRecommended), "http://site.test/music/");
  EXPECT_EQ(&PatternFor(ListPage::kRecommended), &kRecommendPattern);
}

}  // namespace
}  // namespace melo::scrape
