// The pool with several jobs: every result in list order whatever order the
// items end in, never more items at work than `jobs`, and a run that ends
// early (stopped, or a handler that throws) hands nothing out after its end
// and leaves no item at work.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <numeric>
#include <thread>

#include "core/scrape/InOrderPool.h"

namespace melo::scrape {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kAt = 5;  // where a run that ends early ends

enum class End { kNone, kStopInHandler, kStopInWork, kThrowInHandler };

struct Case {
  const char* name;
  End end;
  int jobs;
  std::size_t count;
  std::size_t handed;  // how many results come out, in list order
};

// Without an early end, item 0 ends only after all the others, which must
// therefore go on beside it and wait for their turn. With one, the items
// after kAt stay at work until their token stops, so a pool that is not
// stopped at the end never ends.
const Case kCases[] = {
    {"first ends last, two jobs", End::kNone, 2, 12, 12},
    {"first ends last, four jobs", End::kNone, 4, 12, 12},
    {"first ends last, more jobs than items", End::kNone, 3, 2, 2},
    {"stop in a handler, one job", End::kStopInHandler, 1, 10, kAt + 1},
    {"stop in a handler, four jobs", End::kStopInHandler, 4, 10, kAt + 1},
    {"stop while an item works, one job", End::kStopInWork, 1, 10, kAt},
    {"stop while an item works, four jobs", End::kStopInWork, 4, 10, kAt},
    {"throwing handler, one job", End::kThrowInHandler, 1, 10, kAt + 1},
    {"throwing handler, four jobs", End::kThrowInHandler, 4, 10, kAt + 1},
};

struct Thrown {};

TEST(InOrderPoolTest, HandsOutInListOrderAndNothingAfterTheEnd) {
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.name);
    std::mutex mutex;
    std::condition_variable_any changed;
    std::size_t atWork = 0, mostAtWork = 0, finished = 0;
    std::vector<std::size_t> handed;
    bool released = false;  // past the deadline: the test fails instead of hanging
    std::stop_source stop;

    const auto work = [&](std::size_t i, std::stop_token token) {
      std::function<bool()> until;
      if (row.end == End::kNone && i == 0)
        until = [&] { return finished == row.count - 1; };
      else if (row.end != End::kNone && i > kAt)
        until = [] { return false; };
      else if (row.end == End::kStopInWork && i == kAt)
        until = [&] { return handed.size() == kAt; };
      {
        std::unique_lock lock(mutex);
        mostAtWork = std::max(mostAtWork, ++atWork);
        if (until) {
          changed.wait(lock, token, [&] { return released || until(); });
        } else {
          // A moment, so that a pool with too many threads has them overlap.
          lock.unlock();
          std::this_thread::sleep_for(1ms);
          lock.lock();
        }
        --atWork;
        ++finished;
        changed.notify_all();
      }
      if (row.end == End::kStopInWork && i == kAt)
        stop.request_stop();
      return i * 10;
    };
    const auto handle = [&](std::size_t i, std::size_t result) {
      EXPECT_EQ(result, i * 10);
      {
        const std::lock_guard lock(mutex);
        handed.push_back(i);
        changed.notify_all();
      }
      if (i == kAt && row.end == End::kStopInHandler)
        stop.request_stop();
      if (i == kAt && row.end == End::kThrowInHandler)
        throw Thrown{};
    };

    auto run = std::async(std::launch::async, [&] {
      return RunInOrder<std::size_t>(row.count, row.jobs, stop.get_token(), work, handle);
    });
    const bool inTime = run.wait_for(30s) == std::future_status::ready;
    if (!inTime) {
      {
        const std::lock_guard lock(mutex);
        released = true;
      }
      changed.notify_all();
      stop.request_stop();
    }
    bool returned = false, threw = false;
    try {
      returned = run.get();
    } catch (const Thrown&) {
      threw = true;
    }

    EXPECT_TRUE(inTime);
    EXPECT_EQ(returned, row.end == End::kNone);
    EXPECT_EQ(threw, row.end == End::kThrowInHandler);
    std::vector<std::size_t> inOrder(row.handed);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(handed, inOrder);
    EXPECT_LE(mostAtWork, static_cast<std::size_t>(row.jobs));
    EXPECT_EQ(atWork, 0u) << "an item was still at work when the run returned";
  }
}

}  // namespace
}  // namespace melo::scrape
