// The runners end to end: the real page reader against the bundled site.
// What the pages hold is the site tests'; how the CLI prints a run, the CLI
// tests'. Here: the order of a run's reports, its end, and its stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "RecordingReporter.h"
#include "core/scrape/AddLink.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/site/Site.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::scrape {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using text::Utf8ToGbk;

// An address nothing listens on: a port of the loopback that was just free.
constexpr const char* kDeadSite = "http://127.0.0.1:9/song/1/";

class RunnerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = std::make_unique<bundled::BundledSite>();
    site::SetSiteHost(site_->Host());
    start_ = bundled::DemoCatalogue().FindSong("2244436");
  }
  static void TearDownTestSuite() { site_.reset(); }

  static std::vector<std::string> Events(const std::function<void(RunReporter&)>& run) {
    RecordingReporter reporter;
    run(reporter);
    return reporter.Events();
  }
  static std::vector<std::string> CrawlEvents(const std::string& address, int jobs = 4) {
    return Events([&](RunReporter& r) { RunListCrawl({address, kListPattern, jobs}, r); });
  }

  inline static std::unique_ptr<bundled::BundledSite> site_;
  inline static const bundled::CatalogueSong* start_ = nullptr;
};

// The status comes before the row, and a run that is not stopped ends with
// "finished", a failed one too. A page that answers an error status is
// scanned as it stands, and its status is the run's failure after its last
// text. The texts of a failed parse are the CLI's parse test's, exact and in
// order.
TEST_F(RunnerTest, AddLinkAndFailedCrawlReportInOrder) {
  const std::string song = site::StartSongAddress(), noSong = site::SiteBase() + "song/9999999/";
  EXPECT_THAT(Events([&](RunReporter& r) { RunAddLink(song, r); }),
              ElementsAre("status 解析成功:" + start_->title, "song " + start_->title + " " + song,
                          "finished"));
  EXPECT_EQ(Events([&](RunReporter& r) { RunAddLink(noSong, r); }).back(), "finished");
  EXPECT_THAT(CrawlEvents(kDeadSite), ElementsAre("status 网络连接失败!", "finished"));
  EXPECT_THAT(CrawlEvents(site::SiteBase() + "singer/999999/"),
              ElementsAre("status 解析完毕", "failure HTTP 404", "finished"));
}

// Eight song pages fetched at once report exactly what one after another
// does: each parse gets its own song, in page order, from a site that keeps
// its connections and from one that closes each after its reply (served one
// page after another, as with one job).
// "解析完毕" as the last status is the CLI's crawl test's.
TEST_F(RunnerTest, ChartCrawlReportsInPageOrderWhateverTheJobs) {
  const auto sequential = CrawlEvents(ListPageAddress(ListPage::kChart), 1);
  ASSERT_GE(sequential.size(), 4u);
  EXPECT_THAT(sequential.front(), HasSubstr("status 成功解析:"));
  EXPECT_THAT(sequential, Contains(HasSubstr("song ")).Times(20));
  EXPECT_EQ(sequential.back(), "finished");
  EXPECT_EQ(CrawlEvents(ListPageAddress(ListPage::kChart), 8), sequential);

  const bundled::BundledSite closing({.oneReplyPerConnection = true});
  site::SetSiteHost(closing.Host());
  const auto closingSequential = CrawlEvents(ListPageAddress(ListPage::kChart), 1);
  const auto closingEight = CrawlEvents(ListPageAddress(ListPage::kChart), 8);
  site::SetSiteHost(site_->Host());
  EXPECT_THAT(closingSequential, Contains(HasSubstr("song ")).Times(20));
  EXPECT_EQ(closingEight, closingSequential);
}

// A stopped run reports nothing more, not even "finished": pages side by
// side, and from a site that closes each connection (read one after another
// once its replies show it answers at once; side by side on a slow machine).
TEST_F(RunnerTest, StopMidCrawlEndsAllReports) {
  const bundled::BundledSite closing({.oneReplyPerConnection = true});
  for (const auto& [host, jobs] :
       {std::pair{site_->Host(), 1}, {site_->Host(), 8}, {closing.Host(), 8}}) {
    site::SetSiteHost(host);
    std::stop_source stop;
    RecordingReporter reporter;
    int songs = 0;
    reporter.afterEvent = [&](const std::string& event) {
      if (event.starts_with("song ") && ++songs == 2)
        stop.request_stop();
    };
    RunListCrawl({ListPageAddress(ListPage::kChart), kListPattern, jobs}, reporter,
                 stop.get_token());
    const auto events = reporter.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_THAT(events.back(), HasSubstr("song ")) << host << " jobs " << jobs;
    EXPECT_THAT(events, Contains(StartsWith("song ")).Times(2));
  }
  site::SetSiteHost(site_->Host());
}

// The mode is asked once, when the page is in (the window's search tests
// switch it while the page loads); what each mode lists, the window's and the
// CLI's search tests and the site tests check.
TEST_F(RunnerTest, SearchAsksTheModeOnce) {
  for (const SearchMode mode : {SearchMode::kSong, SearchMode::kSinger}) {
    int modeReads = 0;
    Events([&](RunReporter& r) {
      RunSiteSearch({Utf8ToGbk(start_->singer),
                     [&] {
                       ++modeReads;
                       return mode;
                     }},
                    r);
    });
    EXPECT_EQ(modeReads, 1);
  }
}

}  // namespace
}  // namespace melo::scrape
