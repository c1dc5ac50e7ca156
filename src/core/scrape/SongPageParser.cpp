#include "core/scrape/SongPageParser.h"

#include <mutex>
#include <optional>

#include "core/net/PageReader.h"
#include "core/scrape/StatusTexts.h"
#include "core/site/Site.h"
#include "core/text/TextRules.h"

namespace melo::scrape {
namespace {

using text::Find;
using text::kNotFound;
using text::Pos;
using text::Substring;

constexpr std::string_view kMediaMarker = "cache";

// The singer path stands between "href='/singer" (from its "singer") and
// the two bytes (quote, space) before "target=".
constexpr Pos kMinSingerPath = 8;
constexpr Pos kMaxSingerPath = 25;
constexpr Pos kMaxMediaPath = 100;
constexpr Pos kMaxServerPart = 30;
constexpr Pos kMinLink = 25;  // counting both quotes

// Some media lines begin "cache/preview...": there the path ends at "SkyT".
constexpr Pos kPreviewAtLineStart = 6;

std::mutex& CurrentSongMutex() {
  static std::mutex m;
  return m;
}

Song& CurrentSongStore() {
  static Song song;
  return song;
}

void CutHeading(std::string_view page, Song& song) {
  const Pos titleStart = Find(page, "<h1>") + 4;
  const Pos headingEnd = Find(page, "</h1>", titleStart);
  const Pos label = Find(page, texts::kSingerLabel);
  song.title = Substring(page, titleStart, label - titleStart);
  song.singer = Substring(page, label + 4, headingEnd - label - 4);
  song.singer = text::Trim(song.singer);
  song.title = text::Trim(song.title);
}

bool CutSingerLink(std::string_view page, std::string_view siteBaseWww, Song& song) {
  const Pos pathStart = Find(page, "href='/singer") + 7;
  const Pos pathLength = Find(page, "target=", pathStart) - 2 - pathStart;
  if (pathLength < kMinSingerPath || pathLength > kMaxSingerPath)
    return false;
  song.singerLink = std::string(siteBaseWww) + Substring(page, pathStart, pathLength);
  return true;
}

}  // namespace

ParseResult ExtractSong(std::string_view page, std::string_view media,
                        std::string_view siteBaseWww) {
  ParseResult result;
  Song& song = result.song;
  CutHeading(page, song);
  if (!CutSingerLink(page, siteBaseWww, song)) {
    result.exit = ParseExit::kSingerPathLength;
    return result;
  }

  const Pos cache = Find(media, kMediaMarker);
  Pos pathEnd = Find(media, "preview", cache);
  if (pathEnd == kPreviewAtLineStart)
    pathEnd = Find(media, "SkyT", cache);
  if (cache == kNotFound || pathEnd == kNotFound) {
    result.exit = ParseExit::kNoPathEnd;
    return result;
  }
  if (pathEnd - cache > kMaxMediaPath) {
    result.exit = ParseExit::kMediaPathTooLong;
    return result;
  }

  const Pos serverStart = Find(media, "http://", pathEnd);
  const Pos listenLog = Find(media, "ListenLog", pathEnd);
  if (listenLog == kNotFound) {
    result.exit = ParseExit::kNoListenLog;
    return result;
  }
  const Pos serverEnd = listenLog - 3;
  if (serverStart == kNotFound) {
    result.exit = ParseExit::kNoServerStart;
    return result;
  }
  if (serverEnd - serverStart > kMaxServerPart) {
    result.exit = ParseExit::kServerPartTooLong;
    return result;
  }

  // Nothing is escaped: the title goes into the address byte for byte.
  std::string link = "\"";
  link += Substring(media, serverStart, serverEnd - serverStart);
  link += Substring(media, cache, pathEnd - cache);
  link += song.title;
  link += ".mp3\"";
  if (text::Size(link) < kMinLink) {
    result.exit = ParseExit::kLinkTooShort;
    return result;
  }
  song.downloadLink = std::move(link);
  result.exit = ParseExit::kParsed;
  return result;
}

namespace {

ParseResult Failed(ParseExit exit) {
  ParseResult failed;
  failed.exit = exit;
  return failed;
}

// How `open` (a step of opening the page) failed, if it did.
template <typename Open>
std::optional<ParseExit> OpenFailure(Open open) {
  try {
    open();
  } catch (const net::TransferStopped&) {
    return ParseExit::kStopped;
  } catch (const net::InternetError&) {
    return ParseExit::kOpenFailed;
  }
  return std::nullopt;
}

ParseResult ReadOpenedSongPage(net::PageReader& reader) {
  try {
    // The doctype line is never part of the page text. Only the first line
    // that mentions the media folder is searched for the MP3 address; the
    // rest of the page is never fetched.
    const std::optional<std::string_view> mediaLine = reader.ReadToLineWith(kMediaMarker);
    if (!mediaLine)
      return Failed(ParseExit::kNoMediaLine);
    return ExtractSong(reader.Text(), *mediaLine, site::SiteBaseWww());
  } catch (const net::TransferStopped&) {
    return Failed(ParseExit::kStopped);
  } catch (const net::InternetError&) {
    return Failed(ParseExit::kReadFailed);
  }
}

}  // namespace

ParseResult ReadSongPage(const std::string& address, std::stop_token stop) {
  net::PageReader reader(stop);
  if (const std::optional<ParseExit> failed = OpenFailure([&] { reader.Open(address); }))
    return Failed(*failed);
  return ReadOpenedSongPage(reader);
}

SongPageRead::SongPageRead(const std::string& address, net::ReaderGroup& group,
                           std::stop_token stop)
    : reader_(group, std::move(stop)) {
  failed_ = OpenFailure([&] { reader_.Start(address); });
}

ParseResult SongPageRead::Finish() {
  if (!failed_)
    failed_ = OpenFailure([&] { reader_.AwaitReply(); });
  if (failed_)
    return Failed(*failed_);
  return ReadOpenedSongPage(reader_);
}

void PublishCurrentSong(const ParseResult& result) {
  std::lock_guard lock(CurrentSongMutex());
  Song& current = CurrentSongStore();
  switch (result.exit) {
    case ParseExit::kOpenFailed:
    case ParseExit::kReadFailed:
    case ParseExit::kStopped:
    case ParseExit::kNoMediaLine:
      return;
    case ParseExit::kParsed:
      current.downloadLink = result.song.downloadLink;
      [[fallthrough]];
    case ParseExit::kNoPathEnd:
    case ParseExit::kMediaPathTooLong:
    case ParseExit::kNoListenLog:
    case ParseExit::kNoServerStart:
    case ParseExit::kServerPartTooLong:
    case ParseExit::kLinkTooShort:
      current.singerLink = result.song.singerLink;
      [[fallthrough]];
    case ParseExit::kSingerPathLength:
      current.title = result.song.title;
      current.singer = result.song.singer;
      return;
  }
}

Song CurrentSong() {
  std::lock_guard lock(CurrentSongMutex());
  return CurrentSongStore();
}

bool IsNetworkFailure(ParseExit exit) {
  return exit == ParseExit::kOpenFailed || exit == ParseExit::kReadFailed;
}

ParseResult ParseSongPage(const std::string& address, RunReporter& reporter, std::stop_token stop) {
  ParseResult result = ReadSongPage(address, stop);
  if (result.exit == ParseExit::kStopped)
    return result;
  PublishCurrentSong(result);
  if (IsNetworkFailure(result.exit))
    reporter.Status(texts::kNetworkFailed);
  return result;
}

}  // namespace melo::scrape
