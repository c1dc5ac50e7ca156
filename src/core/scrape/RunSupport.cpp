#include "core/scrape/RunSupport.h"

#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "core/net/PageReader.h"
#include "core/net/ServerPlaces.h"
#include "core/scrape/InOrderPool.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {
namespace {

// How the servers of a run's pages take requests: as known when the run
// first asks about each, then as the run's own pages show.
class RunPaces {
 public:
  net::ServerPace Of(std::string_view address) {
    const std::lock_guard lock(mutex_);
    const std::string_view origin = net::OriginOf(address);
    auto known = byOrigin_.find(origin);
    if (known == byOrigin_.end())
      known = byOrigin_.emplace(std::string(origin), net::PaceOf(address)).first;
    return known->second;
  }
  bool AnyEnded() {
    const std::lock_guard lock(mutex_);
    return anyEnded_;
  }
  void Ended(std::string_view address) {
    const net::ServerPace pace = net::PaceOf(address);
    const std::lock_guard lock(mutex_);
    byOrigin_.insert_or_assign(std::string(net::OriginOf(address)), pace);
    anyEnded_ = true;
  }

 private:
  std::mutex mutex_;
  bool anyEnded_ = false;
  std::map<std::string, net::ServerPace, std::less<>> byOrigin_;
};

}  // namespace

bool FetchSongsInOrder(const std::vector<std::string>& addresses, int jobs, std::stop_token stop,
                       const ParsedSongHandler& handle) {
  // Pages side by side only queue at a server that serves one request at a
  // time, so there they are read one after another, on the caller's thread.
  // A server not heard from yet gets the first page alone: its reply tells
  // which kind it is. What the run knows changes only as its pages end,
  // which is when the pool asks again.
  RunPaces paces;
  const WorkLimit limit = [&](std::size_t next) {
    switch (paces.Of(addresses[next])) {
      case net::ServerPace::kOneAtATime:
        return 1;
      case net::ServerPace::kUnknown:
        return paces.AnyEnded() ? jobs : 1;
      case net::ServerPace::kSideBySide:
        break;
    }
    return jobs;
  };
  return RunInOrder<ParseResult>(
      addresses.size(), jobs, std::move(stop),
      [&](std::size_t i, std::stop_token token) {
        ParseResult result = ReadSongPage(addresses[i], token);
        paces.Ended(addresses[i]);
        return result;
      },
      [&](std::size_t i, const ParseResult& result) { handle(i, addresses[i], result); }, limit);
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
