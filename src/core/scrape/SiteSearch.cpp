#include "core/scrape/SiteSearch.h"

#include "core/scrape/RunSupport.h"
#include "core/scrape/StatusTexts.h"
#include "core/site/Site.h"
#include "core/text/TextRules.h"

namespace melo::scrape {

using text::Find;
using text::kNotFound;
using text::Pos;

namespace {

constexpr std::string_view kSongLink = "<a href=\"/song";
constexpr std::string_view kSingerLink = "<a href=\"/singer";
constexpr std::string_view kLinkEnd = "\">";
constexpr std::string_view kNameEnd = "</a> </td>";
// The href value starts right after `<a href="`.
constexpr Pos kHrefOffset = 9;

// One link of a result page: where its href value starts and ends.
struct Link {
  Pos hrefStart;
  Pos hrefEnd;  // the link end `">`
};

std::optional<Link> NextLink(std::string_view page, std::string_view marker, Pos from) {
  const Pos e = Find(page, marker, from);
  if (e == kNotFound)
    return std::nullopt;
  const Pos h = e + kHrefOffset;
  const Pos d = Find(page, kLinkEnd, h);
  if (d == kNotFound)
    return std::nullopt;
  return Link{h, d};
}

}  // namespace

std::string SearchAddress(std::string_view keyword) {
  return site::SiteBase() + "search.php?type=&keyword=" + std::string(keyword);
}

std::vector<std::string> ScanSongLinks(std::string_view page) {
  std::vector<std::string> links;
  Pos start = Find(page, texts::kSongSection);
  if (start == kNotFound)
    return links;
  const std::string base = site::SiteBase();
  // The scan is not bounded by the song section: every later song link counts.
  while (const std::optional<Link> link = NextLink(page, kSongLink, start)) {
    if (link->hrefStart < kMinLinkOffset)
      break;
    links.push_back(base + text::Substring(page, link->hrefStart, link->hrefEnd - link->hrefStart));
    start = link->hrefEnd;
  }
  return links;
}

std::vector<SingerRecord> ScanSingers(std::string_view page) {
  std::vector<SingerRecord> singers;
  Pos start = Find(page, texts::kSingerSection);
  if (start == kNotFound)
    return singers;
  const std::string base = site::SiteBase();
  while (const std::optional<Link> link = NextLink(page, kSingerLink, start)) {
    const Pos nameEnd = Find(page, kNameEnd, link->hrefEnd);
    if (nameEnd == kNotFound)
      break;
    if (link->hrefStart < kMinLinkOffset)
      break;
    // The name starts one byte after the link end; it is kept as it stands.
    const Pos nameStart = link->hrefEnd + 3;
    SingerRecord singer;
    if (nameEnd - nameStart > 0)
      singer.singer = text::Substring(page, nameStart, nameEnd - nameStart);
    singer.singerLink =
        base + text::Substring(page, link->hrefStart, link->hrefEnd - link->hrefStart);
    singers.push_back(std::move(singer));
    start = link->hrefEnd;
  }
  return singers;
}

namespace {

bool ListSongs(const std::vector<std::string>& addresses, int jobs, RunReporter& reporter,
               std::stop_token stop) {
  const int found = static_cast<int>(addresses.size());
  reporter.Progress(0, found);
  return FetchSongsInOrder(
      addresses, jobs, stop,
      [&](std::size_t index, const std::string& address, const ParseResult& result) {
        PublishParse(result, reporter);
        if (result.Parsed()) {
          const Song& song = result.song;
          reporter.SongRow({song.singer, song.title, song.downloadLink, song.singerLink, address});
        }
        reporter.Progress(static_cast<int>(index) + 1, found);
      });
}

}  // namespace

void RunSiteSearch(const SearchRequest& request, RunReporter& reporter, std::stop_token stop) {
  const std::optional<RunPage> page =
      ReadRunPage(SearchAddress(request.keyword), false, reporter, stop);
  if (!page)
    return;

  const SearchMode mode = request.readMode ? request.readMode() : SearchMode::kSong;
  if (mode == SearchMode::kSong) {
    if (!ListSongs(ScanSongLinks(page->text), request.jobs, reporter, stop))
      return;
  } else {
    for (const SingerRecord& singer : ScanSingers(page->text)) {
      if (stop.stop_requested())
        return;
      reporter.SingerRow(singer);
    }
  }
  if (!stop.stop_requested())
    EndRun(texts::kSearchDone, *page, reporter);
}

}  // namespace melo::scrape
