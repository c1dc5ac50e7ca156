#include "core/scrape/RunSupport.h"

#include <utility>

#include "core/net/PageReader.h"
#include "core/scrape/InOrderPool.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {
bool FetchSongsInOrder(const std::vector<std::string>& addresses, int jobs, std::stop_token stop,
                       const ParsedSongHandler& handle) {
  return RunInOrder<ParseResult>(
      addresses.size(), jobs, std::move(stop),
      [&](std::size_t i, std::stop_token token) { return ReadSongPage(addresses[i], token); },
      [&](std::size_t i, const ParseResult& result) { handle(i, addresses[i], result); });
}

void PublishParse(const ParseResult& result, RunReporter& reporter) {
  PublishCurrentSong(result);
  if (IsNetworkFailure(result.exit))
    reporter.Status(texts::kNetworkFailed);
}

std::optional<std::string> ReadRunPage(const std::string& address, bool keepFirstLine,
                                       RunReporter& reporter, std::stop_token stop) {
  try {
    net::PageReader reader(stop);
    reader.Open(address);
    std::string page = reader.ReadToEnd(keepFirstLine);
    reader.Close();
    return page;
  } catch (const net::InternetError&) {
    if (stop.stop_requested())
      return std::nullopt;
    reporter.Status(texts::kNetworkFailed);
    reporter.Finished();
    return std::nullopt;
  }
}

}  // namespace melo::scrape
