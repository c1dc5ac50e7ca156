// The pool under a limit: every result in list order, never more items at
// work than the limit allows, and while it allows one, the caller's own
// thread works the items, whichever way the limit changes during the run.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <set>
#include <thread>

#include "core/scrape/InOrderPool.h"

namespace melo::scrape {
namespace {

constexpr std::size_t kItems = 12;
constexpr int kJobs = 4;

struct LimitCase {
  const char* name;
  WorkLimit limit;
  std::size_t mostAtOnce;
  std::set<std::size_t> onCallersThread;
};

std::set<std::size_t> From(std::size_t first) {
  std::set<std::size_t> items;
  for (std::size_t i = first; i < kItems; ++i)
    items.insert(i);
  return items;
}

const LimitCase kLimitCases[] = {
    {"none", {}, kJobs, {}},
    {"one_at_a_time", [](std::size_t) { return 1; }, 1, From(0)},
    {"two_at_a_time", [](std::size_t) { return 2; }, 2, {}},
    {"first_alone_then_side_by_side",
     [](std::size_t next) { return next == 0 ? 1 : kJobs; },
     kJobs,
     {0}},
    {"side_by_side_then_one_at_a_time", [](std::size_t next) { return next < 5 ? kJobs : 1; },
     kJobs, From(5)},
    {"one_at_a_time_then_side_by_side",
     [](std::size_t next) { return next < 3 ? 1 : kJobs; },
     kJobs,
     {0, 1, 2}},
};

void RunsInOrderWithin(const LimitCase& row) {
  std::mutex mutex;
  std::size_t atWork = 0;
  std::size_t mostAtWork = 0;
  std::set<std::size_t> onCaller;
  std::vector<std::size_t> handed;
  WorkLimit limit;
  if (row.limit) {
    limit = [&row](std::size_t next) {
      EXPECT_LT(next, kItems) << "asked about an item the list does not have";
      return row.limit(next);
    };
  }
  std::stop_source deadline;
  auto run = std::async(std::launch::async, [&] {
    const std::thread::id caller = std::this_thread::get_id();
    return RunInOrder<std::size_t>(
        kItems, kJobs, deadline.get_token(),
        [&](std::size_t i, std::stop_token) {
          {
            const std::lock_guard lock(mutex);
            mostAtWork = std::max(mostAtWork, ++atWork);
            if (std::this_thread::get_id() == caller)
              onCaller.insert(i);
          }
          std::this_thread::yield();  // room for the others to start beside it
          const std::lock_guard lock(mutex);
          --atWork;
          return i * 10;
        },
        [&](std::size_t i, std::size_t result) {
          EXPECT_EQ(result, i * 10);
          handed.push_back(i);
        },
        limit);
  });
  if (run.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
    deadline.request_stop();
  ASSERT_TRUE(run.get()) << "the run did not end";
  std::vector<std::size_t> inOrder(kItems);
  for (std::size_t i = 0; i < kItems; ++i)
    inOrder[i] = i;
  EXPECT_EQ(handed, inOrder);
  EXPECT_LE(mostAtWork, row.mostAtOnce);
  EXPECT_EQ(onCaller, row.onCallersThread);
}

TEST(InOrderPoolTest, HandsOutInOrderWithinTheLimit) {
  for (const LimitCase& row : kLimitCases) {
    SCOPED_TRACE(row.name);
    RunsInOrderWithin(row);
  }
}

}  // namespace
}  // namespace melo::scrape
