#include "core/scrape/RunSupport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "core/net/PageReader.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {
namespace {

// The results of the pages being fetched by the pool, waiting to be handed
// out in order.
class ResultSlots {
 public:
  explicit ResultSlots(std::size_t count) : slots_(count) {}

  void Put(std::size_t index, ParseResult result) {
    {
      std::lock_guard lock(mutex_);
      slots_[index] = std::move(result);
    }
    ready_.notify_all();
  }

  // The result at `index` once it is there; nullopt when `stop` fires first.
  std::optional<ParseResult> Take(std::size_t index, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait(lock, stop, [&] { return slots_[index].has_value(); }))
      return std::nullopt;
    return std::exchange(slots_[index], std::nullopt);
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::vector<std::optional<ParseResult>> slots_;
};

bool FetchOneAfterAnother(const std::vector<std::string>& addresses, std::stop_token stop,
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
  const std::size_t workers = std::min<std::size_t>(std::max(jobs, 1), addresses.size());
  if (workers <= 1)
    return FetchOneAfterAnother(addresses, stop, handle);

  ResultSlots slots(addresses.size());
  std::atomic<std::size_t> next{0};
  // The pool stops with the caller's token and when this function returns,
  // whichever comes first.
  std::stop_source poolStop;
  std::stop_callback forward(stop, [&] { poolStop.request_stop(); });
  // Destroyed before the pool: on every way out, a throwing handler
  // included, the pool is told to stop before it is joined.
  struct StopOnExit {
    std::stop_source& source;
    ~StopOnExit() { source.request_stop(); }
  };
  std::vector<std::jthread> pool;
  pool.reserve(workers);
  for (std::size_t w = 0; w < workers; ++w) {
    pool.emplace_back([&, token = poolStop.get_token()] {
      for (std::size_t i = next++; i < addresses.size() && !token.stop_requested(); i = next++) {
        slots.Put(i, ReadSongPage(addresses[i], token));
      }
    });
  }
  const StopOnExit stopPool{poolStop};

  bool complete = true;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    std::optional<ParseResult> result = slots.Take(i, stop);
    if (!result || stop.stop_requested()) {
      complete = false;
      break;
    }
    handle(i, addresses[i], *result);
  }
  return complete;
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
