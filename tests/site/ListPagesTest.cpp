#include <gtest/gtest.h>

#include <set>

#include "SiteClient.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using text::Find;
using text::kNotFound;
using text::Pos;

struct Pattern {
  std::string_view opening, separator;
  Pos headLimit;
};
constexpr Pattern kList{"WL(\"", "\",\"", 15};
constexpr Pattern kRecommend{"MSL(\"", "\", \"", 100};
constexpr Pos kIdLimit = 15;

struct Scan {
  std::vector<std::string> ids;  // accepted, in page order
  int openings = 0;              // every opening marker, decoys included
};

// The crawler's limits: the first separator at most head-limit bytes in, an
// id under 15 bytes; a rejected candidate is passed over.
Scan ScanEntries(const std::string& page, const Pattern& p) {
  Scan scan;
  const Pos sep = text::Size(p.separator);
  for (Pos e = Find(page, p.opening); e != kNotFound; e = Find(page, p.opening, e + 1)) {
    ++scan.openings;
    const Pos s1 = Find(page, p.separator, e);
    if (s1 == kNotFound)
      break;
    const Pos n = s1 + sep;
    if (n - e >= p.headLimit)
      continue;
    const Pos s2 = Find(page, p.separator, n);
    if (s2 == kNotFound)
      break;
    if (s2 - n >= kIdLimit)
      continue;
    scan.ids.push_back(text::Substring(page, n, s2 - n));
    e = s2;
  }
  return scan;
}

std::string WholePage(std::string_view body) {
  std::string text;
  for (const auto& line : testing::Lines(body))
    text += line;
  return text;
}

TEST(ListPages, EveryAcceptedEntryLeadsToASongPage) {
  BundledSite site;
  testing::SiteClient client(site);
  const struct {
    const char* target;
    Pattern pattern;
    size_t entries;
  } cases[] = {
      {"/music/chart", kList, 20},
      {"/music/lsn/", kList, 15},
      {"/music/", kRecommend, 12},
      {"/singer/42/", kList, DemoCatalogue().SongsOf("42").size()},
  };
  const std::string www = "www." + site.Host();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const auto reply = client.Get(c.target);
    ASSERT_EQ(reply.status, 200);
    const auto scan = ScanEntries(WholePage(reply.body), c.pattern);
    EXPECT_EQ(scan.ids.size(), c.entries);
    EXPECT_GT(scan.openings, static_cast<int>(scan.ids.size())) << "no decoys to reject";
    for (const auto& id : scan.ids) {
      const auto song = client.Get("/song/" + id + "//", {}, www);
      EXPECT_EQ(song.status, 200) << id;
      EXPECT_NE(song.body.find("<h1>"), std::string::npos) << id;
    }
  }
}

TEST(ListPages, ChartKeepsAnEntryOnItsFirstLine) {
  BundledSite site;
  testing::SiteClient client(site);
  const auto firstLine = testing::Lines(client.Get("/music/chart").body).at(0);
  EXPECT_EQ(ScanEntries(firstLine, kList).ids, std::vector<std::string>{"2244436"});
}

TEST(ListPages, ChartSizeCyclesThroughTheCatalogue) {
  BundledSite site(testing::OptionsWith([](auto& o) { o.chartSize = 200; }));
  testing::SiteClient client(site);
  const auto ids = ScanEntries(WholePage(client.Get("/music/chart").body), kList).ids;
  ASSERT_EQ(ids.size(), 200u);
  const auto songs = DemoCatalogue().Songs().size();
  std::set<std::string> distinct(ids.begin(), ids.begin() + static_cast<long>(songs));
  EXPECT_EQ(distinct.size(), songs) << "one cycle should list every song once";
  EXPECT_EQ(ids[songs], ids[0]);
}

}  // namespace
}  // namespace melo::bundled
