#pragma once
// Work on a list, up to `jobs` items at a time, with the results handed to
// the caller one by one in list order, on the caller's thread: whatever
// `jobs` is, the caller sees exactly what one item after another would give.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace melo::scrape {

// `work(index, stop)` runs on the pool's threads and returns a Result;
// `handle(index, result)` runs on the caller's thread. Returns false when
// `stop` fired before every result was handed out; none is handed out after
// that. A handler that throws stops the pool, which is joined before the
// exception leaves.
template <typename Result, typename Work, typename Handle>
bool RunInOrder(std::size_t count, int jobs, std::stop_token stop, Work work, Handle handle) {
  const std::size_t workers = std::min<std::size_t>(std::max(jobs, 1), count);
  if (workers <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      Result result = work(i, stop);
      if (stop.stop_requested())
        return false;
      handle(i, result);
    }
    return !stop.stop_requested();
  }

  std::mutex mutex;
  std::condition_variable_any ready;
  std::vector<std::optional<Result>> slots(count);
  // The result the caller waits for: only its arrival wakes the caller, not
  // every result that comes in ahead of its turn.
  std::size_t awaited = 0;
  std::size_t next = 0;  // the first item not yet started
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
  const auto workOn = [&](const std::stop_token& token) {
    for (;;) {
      std::size_t i = 0;
      {
        const std::lock_guard lock(mutex);
        if (next >= count || token.stop_requested())
          return;
        i = next++;
      }
      Result result = work(i, token);
      bool wakeCaller = false;
      {
        const std::lock_guard lock(mutex);
        slots[i] = std::move(result);
        wakeCaller = i == awaited;
      }
      if (wakeCaller)
        ready.notify_one();
    }
  };
  std::vector<std::jthread> pool;
  const StopOnExit stopPool{poolStop};
  pool.reserve(workers);
  for (std::size_t w = 0; w < workers; ++w)
    pool.emplace_back([&workOn, token = poolStop.get_token()] { workOn(token); });

  for (std::size_t i = 0; i < count; ++i) {
    std::optional<Result> result;
    {
      std::unique_lock lock(mutex);
      awaited = i;
      if (!ready.wait(lock, stop, [&] { return slots[i].has_value(); }))
        return false;
      result = std::exchange(slots[i], std::nullopt);
    }
    if (stop.stop_requested())
      return false;
    handle(i, *result);
  }
  return true;
}

}  // namespace melo::scrape
