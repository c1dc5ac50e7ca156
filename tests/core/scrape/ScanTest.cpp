// The scans' limits. Their stepping rules are checked against reference scans
// on any page by fuzz/fuzz_crawl_scan.cpp and fuzz_search_scan.cpp; their
// markers, the addresses the runs read and the song address's form, against
// the bundled site's own pages by the site tests and the window's crawls.

#include <gtest/gtest.h>

#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {
namespace {

using Ids = std::vector<std::string>;

struct CrawlScanCase {
  const char* name;
  std::string page;
  Ids ids;
  const CrawlPattern* pattern = &kListPattern;
};

// The start of a list entry and of a recommendation, up to the title.
std::string WL(std::string_view head, std::string_view id) {
  return "WL(\"" + std::string(head) + "\",\"" + std::string(id) + "\",\"";
}
std::string MSL(std::string_view head, std::string_view id) {
  return "MSL(\"" + std::string(head) + "\", \"" + std::string(id) + "\", \"";
}
const std::string k7(7, 'a'), k90(90, 'a'), k14(14, '7');

TEST(CrawlScanTest, FindsTheAcceptedIds) {
  const CrawlScanCase cases[] = {
      {"id_14", WL("1", k14), {k14}},
      {"id_15", WL("1", k14 + "7"), {}},
      {"head_7", WL(k7, "9"), {"9"}},
      {"head_8", WL(k7 + "a", "9"), {}},
      {"recommend_head_90", MSL(k90, "9"), {"9"}, &kRecommendPattern},
      {"recommend_head_91", MSL(k90 + "a", "9"), {}, &kRecommendPattern},
  };
  for (const CrawlScanCase& c : cases)
    EXPECT_EQ(ScanSongIds(c.page, *c.pattern), c.ids) << c.name;
}

TEST(SearchScanTest, LinkBeforeOffset100EndsTheScan) {
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

}  // namespace
}  // namespace melo::scrape
