#pragma once
// The list-page crawler: every song entry of a chart, listening, recommended
// or singer page, parsed and listed in page order.

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/scrape/RunReporter.h"

namespace melo::scrape {

// The markers that delimit a song entry: opening marker, first argument,
// separator, id, separator. A candidate is accepted when the id begins less
// than `headLimit` bytes after the opening marker and is shorter than
// `idLimit` bytes.
struct CrawlPattern {
  std::string_view opening;
  std::string_view separator;
  long headLimit;
  long idLimit;
};

inline constexpr CrawlPattern kListPattern{"WL(\"", "\",\"", 15, 15};
inline constexpr CrawlPattern kRecommendPattern{"MSL(\"", "\", \"", 100, 15};

// The site's list pages.
enum class ListPage { kChart, kListening, kRecommended };
std::string ListPageAddress(ListPage page);
const CrawlPattern& PatternFor(ListPage page);

// The accepted ids of `pageText`, in page order (duplicates kept).
std::vector<std::string> ScanSongIds(std::string_view pageText, const CrawlPattern& pattern);

// SiteBaseWww + "song/" + id + "//".
std::string SongAddressOfId(std::string_view id);

struct CrawlRequest {
  std::string address;  // the list or singer page
  CrawlPattern pattern = kListPattern;
  // Song pages fetched at once. Whatever it is, texts and rows come out in
  // page order, as one fetch after another would give them.
  int jobs = 1;
};

// Reads the page, then per accepted id "成功解析:" + title and the row, or
// the song address + "   解析失败"; at the end "解析完毕", the page's
// Failure() when it answered an HTTP error, and Finished().
// A page that cannot be opened or read gives "网络连接失败!" and Finished().
// A stop ends the run at once without any further report.
void RunListCrawl(const CrawlRequest& request, RunReporter& reporter, std::stop_token stop = {});

}  // namespace melo::scrape
