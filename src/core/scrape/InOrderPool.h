#pragma once
// Work on a list, up to `jobs` items at a time, with the results handed to
// the caller one by one in list order, on the caller's thread: whatever
// `jobs` is, the caller sees exactly what one item after another would give.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace melo::scrape {

// The most items at work at once when item `next` would start: `jobs`, or
// fewer for a list whose items cannot gain from being side by side. Its
// answer may change only through the work itself: the pool asks again as
// each item ends.
using WorkLimit = std::function<int(std::size_t next)>;

// `work(index, stop)` runs on the pool's threads and returns a Result;
// `handle(index, result)` runs on the caller's thread. Returns false when
// `stop` fired before every result was handed out; none is handed out after
// that. While `limit` allows one item at a time, the caller's thread works
// the items itself, one after another, and the pool waits: no item then
// waits for another thread to wake, nor its result for the caller to.
template <typename Result, typename Work, typename Handle>
bool RunInOrder(std::size_t count, int jobs, std::stop_token stop, Work work, Handle handle,
                const WorkLimit& limit = {}) {
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
  std::condition_variable_any ready;     // the caller waits here
  std::condition_variable_any mayStart;  // and the pool's threads here
  std::vector<std::optional<Result>> slots(count);
  // The result the caller waits for: only its arrival wakes the caller, not
  // every result that comes in ahead of its turn.
  std::size_t awaited = 0;
  std::size_t next = 0;    // the first item not yet started
  std::size_t atWork = 0;  // items started and not yet done
  // Each under the lock.
  const auto allowed = [&] {
    return limit ? static_cast<std::size_t>(std::max(limit(next), 1)) : workers;
  };
  const auto poolMayStart = [&](std::size_t busy) {
    if (next >= count)
      return false;
    const std::size_t most = allowed();
    return most > 1 && busy < most;
  };
  const auto callerMayStart = [&] {
    return next < count && next == awaited && atWork == 0 && allowed() == 1;
  };
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
        std::unique_lock lock(mutex);
        if (!mayStart.wait(lock, token, [&] { return poolMayStart(atWork); }) ||
            token.stop_requested())
          return;
        i = next++;
        ++atWork;
        if (poolMayStart(atWork))
          mayStart.notify_one();
      }
      Result result = work(i, token);
      bool wakeCaller = false;
      bool wakeAnother = false;
      {
        std::lock_guard lock(mutex);
        slots[i] = std::move(result);
        --atWork;
        wakeCaller = i == awaited || callerMayStart();
        // This thread goes on with the next item: another only beside it.
        wakeAnother = poolMayStart(atWork + 1);
      }
      if (wakeCaller)
        ready.notify_one();
      if (wakeAnother)
        mayStart.notify_one();
    }
  };
  std::vector<std::jthread> pool;
  const StopOnExit stopPool{poolStop};
  // The pool's threads start when the limit first lets items go side by
  // side: a list the caller works one item at a time never starts them.
  const auto startPool = [&] {
    if (!pool.empty())
      return false;
    pool.reserve(workers);
    for (std::size_t w = 0; w < workers; ++w)
      pool.emplace_back([&workOn, token = poolStop.get_token()] { workOn(token); });
    return true;
  };
  bool sideBySide = false;
  {
    const std::lock_guard lock(mutex);
    sideBySide = poolMayStart(0);
  }
  if (sideBySide)
    startPool();

  for (std::size_t i = 0; i < count; ++i) {
    std::optional<Result> result;
    {
      std::unique_lock lock(mutex);
      awaited = i;
      if (!ready.wait(lock, stop, [&] { return slots[i].has_value() || callerMayStart(); }))
        return false;
      if (slots[i]) {
        result = std::exchange(slots[i], std::nullopt);
      } else {
        ++next;
        ++atWork;
      }
    }
    if (!result) {
      result.emplace(work(i, poolStop.get_token()));
      bool wakePool = false;
      {
        std::lock_guard lock(mutex);
        --atWork;
        wakePool = poolMayStart(atWork);
      }
      if (wakePool && !startPool())
        mayStart.notify_one();
    }
    if (stop.stop_requested())
      return false;
    handle(i, *result);
  }
  return true;
}

}  // namespace melo::scrape
