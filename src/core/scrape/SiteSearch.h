#pragma once
// The site's own search, by song title or by singer.

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/scrape/RunReporter.h"

namespace melo::scrape {

enum class SearchMode { kSong, kSinger };

// SiteBase + "search.php?type=&keyword=" + keyword (GBK, unescaped).
std::string SearchAddress(std::string_view keyword);

// Links whose href value begins before this offset of the page text end the
// scan.
inline constexpr long kMinLinkOffset = 100;

// The song addresses (SiteBase + href value) a song search fetches, in page
// order; the scan runs on past the song section.
std::vector<std::string> ScanSongLinks(std::string_view pageText);

// The singers a singer search lists, in page order.
std::vector<SingerRecord> ScanSingers(std::string_view pageText);

struct SearchRequest {
  std::string keyword;  // GBK
  // Asked once the result page has been read completely: the mode may change
  // while the page loads.
  std::function<SearchMode()> readMode;
  int jobs = 1;  // song pages fetched at once; results still in page order
};

// Reads the result page, then rows (songs parsed silently, or singers), then
// "获取完毕", the page's Failure() when it answered an HTTP error, and
// Finished(). A page that cannot be opened or read gives
// "网络连接失败!" and Finished(). A stop ends the run without further report.
void RunSiteSearch(const SearchRequest& request, RunReporter& reporter, std::stop_token stop = {});

}  // namespace melo::scrape
