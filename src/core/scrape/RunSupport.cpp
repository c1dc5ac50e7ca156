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

namespace {

constexpr long kFirstHttpError = 400;

}  // namespace

std::optional<RunPage> ReadRunPage(const std::string& address, bool keepFirstLine,
                                   RunReporter& reporter, std::stop_token stop) {
  try {
    net::PageReader reader(stop);
    reader.Open(address);
    RunPage page;
    if (reader.HttpStatus() >= kFirstHttpError)
      page.failure = "HTTP " + std::to_string(reader.HttpStatus());
    page.text = reader.ReadToEnd(keepFirstLine);
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

void EndRun(const std::string& lastStatus, const RunPage& page, RunReporter& reporter) {
  reporter.Status(lastStatus);
  if (!page.failure.empty())
    reporter.Failure(page.failure);
  reporter.Finished();
}

}  // namespace melo::scrape
