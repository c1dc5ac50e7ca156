// The runners end to end: the real page reader against the bundled site.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "RecordingReporter.h"
#include "core/scrape/AddLink.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/SongPageParser.h"
#include "core/site/Site.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::scrape {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using text::GbkToUtf8;
using text::Utf8ToGbk;

// An address nothing listens on: a port of the loopback that was just free.
constexpr const char* kDeadSite = "http://127.0.0.1:9/song/1/";

class RunnerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = std::make_unique<bundled::BundledSite>();
    site::SetSiteHost(site_->Host());
  }
  static void TearDownTestSuite() { site_.reset(); }

  static const bundled::CatalogueSong& Entry(std::string_view id) {
    const bundled::CatalogueSong* song = bundled::DemoCatalogue().FindSong(id);
    EXPECT_NE(song, nullptr) << id;
    return *song;
  }

  static std::unique_ptr<bundled::BundledSite> site_;
};

std::unique_ptr<bundled::BundledSite> RunnerTest::site_;

TEST_F(RunnerTest, AddLinkListsTheSong) {
  const auto& expected = Entry("2244436");
  const std::string address = site::StartSongAddress();
  RecordingReporter reporter;
  RunAddLink(address, reporter);

  EXPECT_THAT(reporter.Events(), ElementsAre("status 解析成功:" + expected.title,
                                             "song " + expected.title, "finished"));
  const SongRecord row = reporter.Songs().at(0);
  EXPECT_EQ(GbkToUtf8(row.singer), expected.singer);
  EXPECT_EQ(row.downloadLink, "\"http://" + site_->Host() + "/cache/mp3/2244436/" +
                                  Utf8ToGbk(expected.title) + ".mp3\"");
  EXPECT_EQ(row.singerLink, site::SiteBaseWww() + "singer/" + expected.singerId + "/");
  EXPECT_EQ(row.songLink, address);
  EXPECT_EQ(CurrentSong().title, row.title);
}

TEST_F(RunnerTest, AddLinkFailuresNameTheTypedAddress) {
  const std::string noSong = site::SiteBase() + "song/9999999/";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {kDeadSite,
       {"status 网络连接失败!", std::string("status ") + kDeadSite + "解析失败", "finished"}},
      {noSong, {"status " + noSong + "解析失败", "finished"}},
  };
  for (const auto& [address, events] : cases) {
    RecordingReporter reporter;
    RunAddLink(address, reporter);
    EXPECT_EQ(reporter.Events(), events);
  }
}

TEST_F(RunnerTest, ConcurrentParsesEachGetTheirOwnSong) {
  const auto songs = bundled::DemoCatalogue().Songs();
  const size_t count = std::min<size_t>(songs.size(), 12);
  std::vector<ParseResult> results(count);
  {
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < count; ++i) {
      threads.emplace_back([&, i] {
        RecordingReporter reporter;
        results[i] = ParseSongPage(SongAddressOfId(songs[i].id), reporter);
      });
    }
  }
  for (size_t i = 0; i < count; ++i) {
    ASSERT_TRUE(results[i].Parsed()) << songs[i].id;
    EXPECT_EQ(GbkToUtf8(results[i].song.title), songs[i].title);
  }
}

std::vector<std::string> CrawlEvents(const CrawlRequest& request) {
  RecordingReporter reporter;
  RunListCrawl(request, reporter);
  return reporter.Events();
}

TEST_F(RunnerTest, ChartCrawlReportsInPageOrderWhateverTheJobs) {
  CrawlRequest request{ListPageAddress(ListPage::kChart), kListPattern, 1};
  const auto sequential = CrawlEvents(request);
  ASSERT_GE(sequential.size(), 4u);
  EXPECT_EQ(sequential[sequential.size() - 2], "status 解析完毕");
  EXPECT_EQ(sequential.back(), "finished");
  EXPECT_THAT(sequential.front(), HasSubstr("status 成功解析:"));
  request.jobs = 8;
  EXPECT_EQ(CrawlEvents(request), sequential);
}

TEST_F(RunnerTest, SingerCrawlListsTheSingersSongs) {
  const auto& song = Entry("2244436");
  RecordingReporter reporter;
  RunListCrawl({site::SiteBaseWww() + "singer/" + song.singerId + "/", kListPattern, 2}, reporter);
  const auto rows = reporter.Songs();
  EXPECT_EQ(rows.size(), bundled::DemoCatalogue().SongsOf(song.singerId).size());
  for (const auto& row : rows)
    EXPECT_EQ(GbkToUtf8(row.singer), song.singer);
}

TEST_F(RunnerTest, StopMidCrawlEndsAllReports) {
  for (int jobs : {1, 8}) {
    std::stop_source stop;
    RecordingReporter reporter;
    int rows = 0;
    reporter.afterEvent = [&] {
      if (reporter.Songs().size() == 2 && rows++ == 0)
        stop.request_stop();
    };
    RunListCrawl({ListPageAddress(ListPage::kChart), kListPattern, jobs}, reporter,
                 stop.get_token());
    const auto events = reporter.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_THAT(events.back(), HasSubstr("song ")) << "jobs " << jobs;
    EXPECT_EQ(reporter.Songs().size(), 2u);
  }
}

TEST_F(RunnerTest, CrawlOfAnUnreachablePage) {
  EXPECT_THAT(CrawlEvents({kDeadSite, kListPattern, 4}),
              ElementsAre("status 网络连接失败!", "finished"));
}

TEST_F(RunnerTest, SongSearchAppendsMatchingSongs) {
  const auto& song = Entry("2244436");
  RecordingReporter reporter;
  int modeReads = 0;
  SearchRequest request{Utf8ToGbk(song.title), [&] {
                          ++modeReads;
                          return SearchMode::kSong;
                        }};
  RunSiteSearch(request, reporter);
  EXPECT_EQ(modeReads, 1);
  const auto rows = reporter.Songs();
  ASSERT_FALSE(rows.empty());
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const SongRecord& r) {
    return GbkToUtf8(r.title) == song.title && r.songLink == site::SiteBase() + "/song/2244436/";
  }));
  const auto events = reporter.Events();
  EXPECT_EQ(events[events.size() - 2], "status 获取完毕");
}

TEST_F(RunnerTest, SingerSearchListsSingers) {
  const auto& song = Entry("2244436");
  RecordingReporter reporter;
  RunSiteSearch({Utf8ToGbk(song.singer), [] { return SearchMode::kSinger; }}, reporter);
  EXPECT_THAT(reporter.Singers(),
              Contains(SingerRecord{Utf8ToGbk(song.singer),
                                    site::SiteBase() + "/singer/" + song.singerId + "/"}));
  EXPECT_TRUE(reporter.Songs().empty());
}

}  // namespace
}  // namespace melo::scrape
