#include "core/scrape/ListCrawl.h"

#include "core/scrape/RunSupport.h"
#include "core/scrape/StatusTexts.h"
#include "core/site/Site.h"
#include "core/text/TextRules.h"

namespace melo::scrape {

using text::Find;
using text::kNotFound;
using text::Pos;

std::string ListPageAddress(ListPage page) {
  switch (page) {
    case ListPage::kChart:
      return site::SiteBase() + "music/chart";
    case ListPage::kListening:
      return site::SiteBase() + "music/lsn/";
    case ListPage::kRecommended:
      return site::SiteBase() + "music/";
  }
  return {};
}

const CrawlPattern& PatternFor(ListPage page) {
  return page == ListPage::kRecommended ? kRecommendPattern : kListPattern;
}

std::vector<std::string> ScanSongIds(std::string_view page, const CrawlPattern& pattern) {
  std::vector<std::string> ids;
  const Pos separator = text::Size(pattern.separator);
  Pos resume = 0;
  for (Pos e = Find(page, pattern.opening, resume); e != kNotFound;
       e = Find(page, pattern.opening, resume)) {
    // The separator search starts at the marker itself, so it may overlap
    // the marker's closing quote.
    const Pos s1 = Find(page, pattern.separator, e);
    if (s1 == kNotFound)
      break;
    const Pos n = s1 + separator;
    // A rejected candidate is passed over: the scan goes on with the next
    // opening marker after it. The opening markers start with an ASCII
    // byte, so e + 1 is a character boundary.
    if (n - e >= pattern.headLimit) {
      resume = e + 1;
      continue;
    }
    const Pos s2 = Find(page, pattern.separator, n);
    if (s2 == kNotFound)
      break;
    if (s2 - n >= pattern.idLimit) {
      resume = e + 1;
      continue;
    }
    ids.push_back(text::Substring(page, n, s2 - n));
    resume = s2;
  }
  return ids;
}

std::string SongAddressOfId(std::string_view id) {
  return site::SiteBaseWww() + "song/" + std::string(id) + "//";
}

void RunListCrawl(const CrawlRequest& request, RunReporter& reporter, std::stop_token stop) {
  const std::optional<RunPage> page = ReadRunPage(request.address, true, reporter, stop);
  if (!page)
    return;

  std::vector<std::string> addresses;
  for (const std::string& id : ScanSongIds(page->text, request.pattern)) {
    addresses.push_back(SongAddressOfId(id));
  }
  const int found = static_cast<int>(addresses.size());
  reporter.Progress(0, found);

  const bool complete = FetchSongsInOrder(
      addresses, request.jobs, stop,
      [&](std::size_t index, const std::string& address, const ParseResult& result) {
        PublishParse(result, reporter);
        if (result.Parsed()) {
          const Song& song = result.song;
          reporter.Status(texts::kCrawlParsed + song.title);
          reporter.SongRow({song.singer, song.title, song.downloadLink, song.singerLink, address});
        } else {
          reporter.Status(address + texts::kCrawlParseFailed);
        }
        reporter.Progress(static_cast<int>(index) + 1, found);
      });
  if (complete)
    EndRun(texts::kCrawlDone, *page, reporter);
}

}  // namespace melo::scrape
