// The parser's page read: which line becomes the media line.

#include <gtest/gtest.h>

#include "Printers.h"
#include "RecordingReporter.h"
#include "core/net/RawServer.h"
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

class ReadSongPageTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadSongPageTest, ChoosesTheMediaLine) {
  site::SetSiteHost("site.test");
  const net::testing::RawServer server([body = GetParam().body](int socket, std::stop_token stop) {
    net::testing::ReadRequest(socket, stop);
    net::testing::SendAll(socket, net::testing::Reply(body));
  });
  RecordingReporter reporter;
  const ParseResult result = ParseSongPage(server.Address("/song/1/"), reporter);
  EXPECT_EQ(result.exit, GetParam().exit);
  EXPECT_TRUE(reporter.Events().empty()) << "only a failed connection writes a status";
  if (result.Parsed()) {
    EXPECT_EQ(result.song.downloadLink, "\"http://srv/cache/p/q/Song A.mp3\"");
    EXPECT_EQ(result.song.singerLink, "http://www.site.test/singer/42/");
    EXPECT_EQ(CurrentSong().downloadLink, result.song.downloadLink) << "the song is published";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ReadSongPageTest,
    ::testing::Values(
        ReadCase{"plain", "<!DOCTYPE html>\r\n" + kHeading + kMedia + "rest\r\n",
                 ParseExit::kParsed},
        // The first line is dropped even when it holds everything.
        ReadCase{"first_line_dropped", kHeading + kMedia, ParseExit::kSingerPathLength},
        ReadCase{"cache_on_first_line", "cache\r\n" + kHeading + kMedia, ParseExit::kParsed},
        ReadCase{"capital_cache_ignored", "doctype\r\n" + kHeading + "Cache here\r\n" + kMedia,
                 ParseExit::kParsed},
        ReadCase{"only_first_cache_line", "doctype\r\n" + kHeading + kBadMedia + kMedia,
                 ParseExit::kNoPathEnd},
        ReadCase{"no_media_line", "doctype\r\n" + kHeading + "no media here\r\n",
                 ParseExit::kNoMediaLine},
        ReadCase{"empty_body", "", ParseExit::kNoMediaLine},
        ReadCase{"media_line_without_line_feed",
                 "doctype\n" + kHeading + kMedia.substr(0, kMedia.size() - 2), ParseExit::kParsed}),
    printing::CaseName());

}  // namespace
}  // namespace melo::scrape
