#include "core/scrape/RunSupport.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "core/net/PageReader.h"
#include "core/net/ServerPlaces.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {
namespace {

// How the servers of a run's pages take requests: as known when the run
// first asks about each, then as the run's own pages show. Used on the run's
// thread only.
class RunPaces {
 public:
  net::ServerPace Of(std::string_view address) {
    const std::string_view origin = net::OriginOf(address);
    auto known = byOrigin_.find(origin);
    if (known == byOrigin_.end())
      known = byOrigin_.emplace(std::string(origin), net::PaceOf(address)).first;
    return known->second;
  }
  bool AnyEnded() const { return anyEnded_; }
  void Ended(std::string_view address) {
    byOrigin_.insert_or_assign(std::string(net::OriginOf(address)), net::PaceOf(address));
    anyEnded_ = true;
  }

 private:
  bool anyEnded_ = false;
  std::map<std::string, net::ServerPace, std::less<>> byOrigin_;
};

bool FetchOneAfterAnother(const std::vector<std::string>& addresses, const std::stop_token& stop,
                          const ParsedSongHandler& handle) {
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const ParseResult result = ReadSongPage(addresses[i], stop);
    if (stop.stop_requested())
      return false;
    handle(i, addresses[i], result);
  }
  return !stop.stop_requested();
}

}  // namespace

bool FetchSongsInOrder(const std::vector<std::string>& addresses, int jobs, std::stop_token stop,
                       const ParsedSongHandler& handle) {
  if (jobs <= 1)
    return FetchOneAfterAnother(addresses, stop, handle);
  // The pages are read side by side on this thread, in one reader group:
  // while the first of them is read, the requests of the next ones are out
  // and their replies come in. A server that serves one request at a time
  // gains nothing from that: a request beside the one it serves only waits,
  // and the work of keeping it waiting (a connection held back, the next
  // address tried meanwhile) takes processor time the server itself needs
  // on a small machine. Its pages are read one after another, as with one
  // job, whenever no page of another server is under way. A server not
  // heard from yet gets the first page alone: its reply tells which kind it
  // is. The group is made once pages go side by side.
  constexpr std::size_t kOneAtATimeAhead = 2;
  RunPaces paces;
  const auto mostAtOnce = [&](std::size_t next) -> std::size_t {
    switch (paces.Of(addresses[next])) {
      case net::ServerPace::kOneAtATime:
        return std::min(kOneAtATimeAhead, static_cast<std::size_t>(jobs));
      case net::ServerPace::kUnknown:
        return paces.AnyEnded() ? static_cast<std::size_t>(jobs) : 1;
      case net::ServerPace::kSideBySide:
        break;
    }
    return static_cast<std::size_t>(jobs);
  };
  std::optional<net::ReaderGroup> group;
  std::deque<SongPageRead> reads;  // begun, in list order, from the one handed out next
  std::size_t next = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const ParseResult result = [&] {
      if (reads.empty() && paces.Of(addresses[i]) == net::ServerPace::kOneAtATime) {
        next = i + 1;  // nothing is begun beyond this page
        return ReadSongPage(addresses[i], stop);
      }
      if (!group)
        group.emplace();
      while (next < addresses.size() && (reads.empty() || reads.size() < mostAtOnce(next)))
        reads.emplace_back(addresses[next++], *group, stop);
      ParseResult first = reads.front().Finish();
      reads.pop_front();
      return first;
    }();
    paces.Ended(addresses[i]);
    if (stop.stop_requested())
      return false;
    handle(i, addresses[i], result);
  }
  return !stop.stop_requested();
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
