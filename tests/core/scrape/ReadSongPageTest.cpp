// The parser's page read: which line becomes the media line.

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <thread>

#include "Printers.h"
#include "RecordingReporter.h"
#include "core/scrape/SongPageParser.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"

namespace melo::scrape {
namespace {

// Heading and singer anchor on one line.
const std::string kHeading = text::Utf8ToGbk("<h1>Song A 歌手 Singer B</h1>") +
                             "<a href='/singer/42/' target='_blank'>x</a>\r\n";
const std::string kMedia = "x('cache/p/q/preview_1', 'http://srv/','ListenLog')\r\n";
const std::string kBadMedia = "x('cache/p/q/nothing', 'http://srv/','ListenLog')\r\n";

struct ReadCase {
  const char* name;
  std::string body;
  ParseExit exit;
  friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

class ReadSongPageTest : public ::testing::TestWithParam<ReadCase> {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<httplib::Server>();
    server_->Get(R"(/case/(\d+))",
                 [](const httplib::Request& request, httplib::Response& response) {
                   response.set_content(Cases()[std::stoul(request.matches[1])].body, "text/html");
                 });
    // One request per connection: an idle kept-alive one would hold up stop().
    server_->set_keep_alive_max_count(1);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([] { server_->listen_after_bind(); });
  }
  static void TearDownTestSuite() {
    server_->stop();
    thread_.join();
    server_.reset();
  }

 public:
  static const std::vector<ReadCase>& Cases();

 protected:
  static std::unique_ptr<httplib::Server> server_;
  static std::thread thread_;
  static int port_;
};

std::unique_ptr<httplib::Server> ReadSongPageTest::server_;
std::thread ReadSongPageTest::thread_;
int ReadSongPageTest::port_ = 0;

const std::vector<ReadCase>& ReadSongPageTest::Cases() {
  static const std::vector<ReadCase> cases = {
      {"plain", "<!DOCTYPE html>\r\n" + kHeading + kMedia + "rest\r\n", ParseExit::kParsed},
      // The first line is dropped even when it holds everything.
      {"first_line_dropped", kHeading + kMedia, ParseExit::kSingerPathLength},
      {"cache_on_first_line", "cache\r\n" + kHeading + kMedia, ParseExit::kParsed},
      {"capital_cache_ignored", "doctype\r\n" + kHeading + "Cache here\r\n" + kMedia,
       ParseExit::kParsed},
      {"only_first_cache_line", "doctype\r\n" + kHeading + kBadMedia + kMedia,
       ParseExit::kNoPathEnd},
      {"no_media_line", "doctype\r\n" + kHeading + "no media here\r\n", ParseExit::kNoMediaLine},
      {"empty_body", "", ParseExit::kNoMediaLine},
      {"media_line_without_line_feed", "doctype\n" + kHeading + kMedia.substr(0, kMedia.size() - 2),
       ParseExit::kParsed},
  };
  return cases;
}

TEST_P(ReadSongPageTest, ChoosesTheMediaLine) {
  site::SetSiteHost("site.test");
  const auto& cases = Cases();
  const auto named = [&](const ReadCase& c) { return std::string(c.name) == GetParam().name; };
  const size_t index =
      static_cast<size_t>(std::find_if(cases.begin(), cases.end(), named) - cases.begin());
  RecordingReporter reporter;
  const ParseResult result = ParseSongPage(
      "http://127.0.0.1:" + std::to_string(port_) + "/case/" + std::to_string(index), reporter);
  EXPECT_EQ(result.exit, GetParam().exit);
  EXPECT_TRUE(reporter.Events().empty()) << "only a failed connection writes a status";
  if (result.Parsed()) {
    EXPECT_EQ(result.song.downloadLink, "\"http://srv/cache/p/q/Song A.mp3\"");
    EXPECT_EQ(result.song.singerLink, "http://www.site.test/singer/42/");
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, ReadSongPageTest, ::testing::ValuesIn(ReadSongPageTest::Cases()),
                         printing::CaseName());

TEST(ParseSongPageTest, UnopenableAddressesReportTheConnection) {
  for (const char* address : {"", "no scheme at all", "http://127.0.0.1:1/song/1/",
                              "file:///etc/passwd", "http://127.0.0.1:9/"}) {
    const Song before = CurrentSong();
    RecordingReporter reporter;
    const ParseResult result = ParseSongPage(address, reporter);
    EXPECT_EQ(result.exit, ParseExit::kOpenFailed) << address;
    EXPECT_EQ(reporter.Events(), std::vector<std::string>{"status 网络连接失败!"}) << address;
    EXPECT_EQ(CurrentSong(), before);
  }
}

}  // namespace
}  // namespace melo::scrape
