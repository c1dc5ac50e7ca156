// The song page's pieces and limits, and which line of a page read over a
// connection becomes the media line.

#include <gtest/gtest.h>

#include "Printers.h"
#include "RecordingReporter.h"
#include "core/net/RawServer.h"
#include "core/scrape/SongPageParser.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"

namespace melo::scrape {
namespace {

using enum ParseExit;
using text::Gbk;

constexpr std::string_view kBase = "http://www.site.test/";

// A page text and media line in the site's shape, with each piece
// replaceable by a case.
struct Page {
  std::string heading = Gbk("<h1>Song A 歌手 Singer B</h1>");
  std::string anchor = "<a href='/singer/42/' target='_blank'>";
  std::string media = "x('cache/p/q/preview_1', 'http://srv/','ListenLog')";

  std::string Text() const { return "<html>" + heading + anchor + media; }
  ParseResult Extract() const { return ExtractSong(Text(), media, kBase); }
};

// A media line of the usual shape with its path (after "cache", up to
// "preview") and its server (after "http://").
std::string Media(std::string_view path, std::string_view server = "srv/") {
  return "x('cache" + std::string(path) + "preview', 'http://" + std::string(server) +
         "','ListenLog')";
}
Page WithSingerPath(std::string_view path) {
  return {.anchor = "href='/" + std::string(path) + "' target="};
}
Page ShortTitled(std::string_view path) {
  return {.heading = Gbk("<h1>T 歌手 S</h1>"), .media = Media(path, "s/")};
}

const std::string kLink = "\"http://srv/cache/p/q/Song A.mp3\"";

const std::string k18(18, '9'), k23(23, 's'), k95(95, 'm');

TEST(ExtractSongTest, TakesTheExpectedExit) {
  const struct {
    const char* name;
    Page page;
    ParseExit exit;
    std::string downloadLink = {};  // checked when parsed
  } cases[] = {
      {"worked_example", Page{}, kParsed, kLink},
      // "singer" + rest: 8 and 25 bytes pass, 7 and 26 fail.
      {"singer_path_8", WithSingerPath("singer/1"), kParsed, kLink},
      {"singer_path_7", WithSingerPath("singer/"), kSingerPathLength},
      {"singer_path_25", WithSingerPath("singer/" + k18), kParsed, kLink},
      {"singer_path_26", WithSingerPath("singer/9" + k18), kSingerPathLength},
      {"no_singer_anchor", Page{.anchor = ""}, kSingerPathLength},
      // The media path runs from "cache" up to "preview": 100 bytes pass.
      {"media_path_100", Page{.media = Media(k95)}, kParsed,
       "\"http://srv/cache" + k95 + "Song A.mp3\""},
      {"media_path_101", Page{.media = Media("m" + k95)}, kMediaPathTooLong},
      // The server part runs from "http://" to three bytes before "ListenLog".
      {"server_part_30", Page{.media = Media("/", k23)}, kParsed,
       "\"http://" + k23 + "cache/Song A.mp3\""},
      {"server_part_31", Page{.media = Media("/", "s" + k23)}, kServerPartTooLong},
      // Quote, "http://s/" (9), the media path, "T", ".mp3", quote: 25 bytes pass.
      {"link_25", ShortTitled("/ab/"), kParsed, "\"http://s/cache/ab/T.mp3\""},
      {"link_24", ShortTitled("/a/"), kLinkTooShort},
      {"no_listenlog", Page{.media = "x('cache/p/preview', 'http://srv/')"}, kNoListenLog},
      {"no_http", Page{.media = "x('cache/p/preview', 'ftp://srv/','ListenLog')"}, kNoServerStart},
      {"no_preview", Page{.media = "x('cache/p/SkyT', 'http://srv/','ListenLog')"}, kNoPathEnd},
      // "preview" at byte 6 (line begins "cache/preview"): the path ends at "SkyT".
      {"preview_at_6_uses_skyt", Page{.media = "cache/preview/x/SkyT1 'http://srv/','ListenLog'"},
       kParsed, "\"http://srv/cache/preview/x/Song A.mp3\""},
      {"preview_at_6_without_skyt", Page{.media = "cache/preview/x/ 'http://srv/','ListenLog'"},
       kNoPathEnd},
      {"skyt_before_preview_elsewhere", Page{.media = Media("/SkyT/")}, kParsed,
       "\"http://srv/cache/SkyT/Song A.mp3\""},
      // "ListenLog" before "http://": empty server part, still long enough.
      {"listenlog_before_http",
       Page{.media = "x('cache/long/path/preview','ListenLog' 'http://srv/'"}, kParsed,
       "\"cache/long/path/Song A.mp3\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult r = c.page.Extract();
    EXPECT_EQ(r.exit, c.exit);
    if (c.exit == kParsed) {
      EXPECT_EQ(r.song.downloadLink, c.downloadLink);
    }
  }
}

TEST(ExtractSongTest, CutsTitleAndSinger) {
  const struct {
    const char* name;
    std::string heading;
    std::string title;
    std::string singer;
  } cases[] = {
      {"trimmed", Gbk("<h1> \tMy  Song\t 歌手 \t Some One </h1>"), "My  Song", "Some One"},
      // The page text starts "<html>": without "<h1>" the title starts at byte 3.
      {"no_h1", Gbk("Song 歌手 Singer</h1>"), "ml>Song", "Singer"},
      // Without the label the singer runs from byte 3 to the heading end.
      {"no_label", "<h1>Song Singer</h1>", "", "ml><h1>Song Singer"},
      {"no_heading_end", Gbk("<h1>Song 歌手 Singer"), "Song", ""},
      {"double_byte_space_kept", Gbk("<h1>　Song　 歌手 Singer</h1>"), Gbk("　Song　"), "Singer"},
      // C4 B8 is one character: the label bytes starting at its B8 are no
      // label; the real one after it is.
      {"label_inside_characters", "<h1>\xC4\xB8\xE8\xCA\xD6 x " + Gbk("歌手 ") + "S</h1>",
       "\xC4\xB8\xE8\xCA\xD6 x", "S"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult r = Page{.heading = c.heading}.Extract();
    EXPECT_EQ(r.song.title, c.title);
    EXPECT_EQ(r.song.singer, c.singer);
  }
}

// Each exit replaces as much of the song a previous parse published as it reached.
TEST(PublishCurrentSongTest, ReplacesWhatTheExitReached) {
  const struct {
    ParseExit exit;
    bool singerAndTitle;
    bool singerLink;
    bool downloadLink;
  } cases[] = {
      {kOpenFailed, false, false, false}, {kNoMediaLine, false, false, false},
      {kStopped, false, false, false},    {kSingerPathLength, true, false, false},
      {kNoPathEnd, true, true, false},    {kLinkTooShort, true, true, false},
      {kParsed, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.exit));
    PublishCurrentSong({kParsed, {"s0", "t0", "d0", "l0"}});
    PublishCurrentSong({c.exit, {"s1", "t1", "d1", "l1"}});
    const Song now = CurrentSong();
    EXPECT_EQ(now.singer, c.singerAndTitle ? "s1" : "s0");
    EXPECT_EQ(now.title, c.singerAndTitle ? "t1" : "t0");
    EXPECT_EQ(now.singerLink, c.singerLink ? "l1" : "l0");
    EXPECT_EQ(now.downloadLink, c.downloadLink ? "d1" : "d0");
  }
}

// The page as the site sends it: heading and singer anchor on one line, the
// media line on the next.
const std::string kHeading = Page{}.heading + Page{}.anchor + "x</a>\r\n";
const std::string kMedia = Page{}.media + "\r\n";
const std::string kBadMedia = "x('cache/p/q/nothing', 'http://srv/','ListenLog')\r\n";

TEST(ReadSongPageTest, ChoosesTheMediaLine) {
  site::SetSiteHost("site.test");
  const struct {
    const char* name;
    std::string body;
    ParseExit exit;
  } cases[] = {
      // The first line is dropped even when it holds everything.
      {"first_line_dropped", kHeading + kMedia, kSingerPathLength},
      {"cache_on_first_line", "cache\r\n" + kHeading + kMedia, kParsed},
      {"capital_cache_ignored", "doctype\r\n" + kHeading + "Cache here\r\n" + kMedia, kParsed},
      {"only_first_cache_line", "doctype\r\n" + kHeading + kBadMedia + kMedia, kNoPathEnd},
      {"no_media_line", "doctype\r\n" + kHeading + "no media here\r\n", kNoMediaLine},
      {"empty_body", "", kNoMediaLine},
      {"media_line_without_line_feed", "doctype\n" + kHeading + kMedia.substr(0, kMedia.size() - 2),
       kParsed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const net::testing::RawServer server([&c](int socket, std::stop_token stop) {
      net::testing::ReadRequest(socket, stop);
      net::testing::SendAll(socket, net::testing::Reply(c.body));
    });
    RecordingReporter reporter;
    const ParseResult result = ParseSongPage(server.Address("/song/1/"), reporter);
    EXPECT_EQ(result.exit, c.exit);
    EXPECT_TRUE(reporter.Events().empty()) << "only a failed connection writes a status";
    if (result.Parsed()) {
      EXPECT_EQ(result.song.downloadLink, kLink);
      EXPECT_EQ(CurrentSong().downloadLink, result.song.downloadLink) << "the song is published";
    }
  }
}

}  // namespace
}  // namespace melo::scrape
