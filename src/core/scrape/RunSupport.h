#pragma once
// What the crawl and the search runners share.

// Fetches and parses a list of song pages, up to `jobs` at a time, and hands
// the results to the caller one by one in list order, on the caller's
// thread: whatever `jobs` is, the caller sees exactly what one fetch after
// another would give.

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/scrape/SongPageParser.h"

namespace melo::scrape {

using ParsedSongHandler =
    std::function<void(std::size_t index, const std::string& address, const ParseResult& result)>;

// Returns false when `stop` fired before every result was handed out; no
// result is handed out after that. `handle` must not read pages itself: the
// run's own unanswered reads may hold every place of their server, and
// nothing moves them on while it runs.
bool FetchSongsInOrder(const std::vector<std::string>& addresses, int jobs, std::stop_token stop,
                       const ParsedSongHandler& handle);

// What a crawl and a search do with each result: publish it as the current
// song and report "网络连接失败!" where the page could not be read.
void PublishParse(const ParseResult& result, RunReporter& reporter);

// The page a run scans. An error status does not stop the scan (its body
// is read like any other), but the run reports it when it ends.
struct RunPage {
  std::string text;
  std::string failure;  // "HTTP 404", or empty
};

// Reads the whole page of a run. nullopt when the run must end: stopped
// (nothing reported) or failed ("网络连接失败!", then Finished()).
std::optional<RunPage> ReadRunPage(const std::string& address, bool keepFirstLine,
                                   RunReporter& reporter, std::stop_token stop);

// The end of a run that was not stopped: its last status, the page's
// failure if any, Finished().
void EndRun(const std::string& lastStatus, const RunPage& page, RunReporter& reporter);

}  // namespace melo::scrape
