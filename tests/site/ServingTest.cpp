// What the site answers beyond its page shapes: address forms, audio ranges,
// its port, and recorded pages.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "SiteFixture.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SongPageParser.h"
#include "core/text/TextRules.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using scrape::ReadSongPage;

TEST_F(SiteTest, AnswersBothHostFormsAndAnyRunOfSlashes) {
  const std::string page = ReadPage(site::SiteBase() + "song/2244436/");
  ASSERT_TRUE(text::Contains(page, "ListenLog"));
  for (const std::string& address :
       {site::SiteBase() + "/song/2244436/", site::SiteBaseWww() + "song/2244436//",
        site::SiteBaseWww() + "/song/2244436//", site::SiteBase() + "//song//2244436"})
    EXPECT_EQ(ReadPage(address), page) << address;
}

// The address the parser builds, as the player and the browser fetch it:
// encoded, whole or in ranges.
TEST_F(SiteTest, ServesTheAudioAndItsRanges) {
  const std::string_view audio = DemoCatalogue().FindSong("2244436")->audio;
  const std::string link = ReadSongPage(site::StartSongAddress()).song.downloadLink;
  const std::string path = net::EncodeRequestAddress(link.substr(1, link.size() - 2))
                               .substr(site::SiteBase().size() - 1);
  httplib::Client client("127.0.0.1", site_->Port());
  client.set_url_encode(false);
  const std::size_t size = audio.size();
  const std::string total = "/" + std::to_string(size);
  const auto range = [&](std::size_t from, std::size_t count) {
    return "bytes " + std::to_string(from) + "-" + std::to_string(from + count - 1) + total;
  };
  const struct {
    std::string range;
    int status;
    std::size_t from, count;
    std::string contentRange;
  } cases[] = {
      {"", 200, 0, size, ""},
      {"bytes=100-199", 206, 100, 100, range(100, 100)},
      {"bytes=1000-", 206, 1000, size - 1000, range(1000, size - 1000)},
      {"bytes=-64", 206, size - 64, 64, range(size - 64, 64)},
      {"bytes=" + std::to_string(size) + "-", 416, 0, 0, "bytes *" + total},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    const auto reply = client.Get(
        path, c.range.empty() ? httplib::Headers{} : httplib::Headers{{"Range", c.range}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->get_header_value("Content-Range"), c.contentRange);
    if (c.status != 416) {
      EXPECT_EQ(reply->get_header_value("Content-Type"), "audio/mpeg");
      EXPECT_EQ(reply->body, audio.substr(c.from, c.count));
    }
  }
}

TEST(Serving, RefusesAPortInUse) {
  const BundledSite first;
  const auto samePort = OptionsWith([&](auto& o) { o.port = first.Port(); });
  EXPECT_THROW(BundledSite{samePort}, std::runtime_error);
}

// More clients than the site ever had worker threads each keep an idle
// keep-alive connection: a new client is still answered, and the site stops
// without waiting for any of them (stopping used to wait for each to time out).
TEST(Serving, IdleConnectionsHoldBackNeitherClientsNorTheStop) {
  auto site = std::make_unique<BundledSite>();
  std::vector<std::unique_ptr<httplib::Client>> idle;
  for (int i = 0; i < 40; ++i) {
    idle.push_back(std::make_unique<httplib::Client>("127.0.0.1", site->Port()));
    idle.back()->set_keep_alive(true);
    const auto reply = idle.back()->Get("/song/2244436/");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200);
  }
  httplib::Client latecomer("127.0.0.1", site->Port());
  const auto reply = latecomer.Get("/song/2244436/");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);

  auto stopped = std::async(std::launch::async, [&] { site.reset(); });
  // The bound guards a hang.
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

TEST(RecordedPages, ServeTheirSongsAndFallBackToTheGeneratedSite) {
  const BundledSite site(OptionsWith([](auto& o) { o.pagesDir = MELO_TEST_PAGES_DIR; }));
  site::SetSiteHost(site.Host());
  // The recorded page names the site by a placeholder that becomes its host.
  EXPECT_EQ(ReadSongPage(site::SiteBase() + "/song/9000004//").song.downloadLink,
            "\"" + site::SiteBase() + "cache/mp3/5902119/Winter Radio.mp3\"");
  EXPECT_TRUE(ReadSongPage(site::StartSongAddress()).Parsed());
  EXPECT_EQ(scrape::ScanSongIds(ReadPage(scrape::ListPageAddress(scrape::ListPage::kChart)),
                                scrape::kListPattern)
                .size(),
            20u);
  // Unknown pages are error pages that no reader takes for a song.
  for (const char* path : {"song/9999999/", "singer/31337/", "no/such/page"}) {
    EXPECT_EQ(ReadSongPage(site::SiteBase() + path).exit, scrape::ParseExit::kNoMediaLine) << path;
  }
  // The reader would fold the dots; a raw request must stay inside the folder too.
  httplib::Client client("127.0.0.1", site.Port());
  const auto outside = client.Get("/song/../../README.md");
  ASSERT_TRUE(outside);
  EXPECT_FALSE(text::Contains(outside->body, "recorded"));
}

}  // namespace
}  // namespace melo::bundled
