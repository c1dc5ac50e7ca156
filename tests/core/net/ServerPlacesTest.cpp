// How many new connections a server gets at once: the rule itself, what a
// reply says of its connection, and readers on many threads against servers
// of the tests' own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/net/RawServer.h"
#include "core/net/ServerPlaces.h"

namespace melo::net {
namespace {

using std::chrono::microseconds;
using testing::RawServer;

struct HolderRow {
  int ageMicroseconds;
  bool answered;
};

struct JudgeCase {
  const char* name;
  std::vector<HolderRow> holders;
  bool oneAtATime;
  bool free;
  std::optional<int> retryInMicroseconds;  // from now
};

constexpr int kPatience = static_cast<int>(kOneAtATimePatience.count());
// Unanswered or answered, held for 10 or 9000 microseconds.
constexpr HolderRow u10{10, false}, u9000{9000, false}, a10{10, true};

TEST(JudgePlaceTest, FreeOrWhenToLookAgain) {
  const JudgeCase cases[] = {
      {"none_held", {}, false, true, {}},
      {"none_held_one_at_a_time", {}, true, true, {}},
      {"one_short_of_the_unanswered_cap", {u10, u10, u10}, false, true, {}},
      {"unanswered_cap_reached", {u10, u10, u10, u10}, false, false, {}},
      {"unanswered_cap_also_for_one_at_a_time", {u9000, u9000, u9000, u9000}, true, false, {}},
      {"answered_ones_do_not_count", {a10, a10, a10, a10, u10}, false, true, {}},
      {"one_at_a_time_waits_for_the_one_in_progress", {{500, true}}, true, false, kPatience - 500},
      {"one_at_a_time_waits_no_longer_than_its_patience", {{kPatience, true}}, true, true, {}},
      {"one_at_a_time_waits_for_the_youngest", {u9000, {100, false}}, true, false, kPatience - 100},
  };
  const auto now = std::chrono::steady_clock::now();
  for (const JudgeCase& row : cases) {
    SCOPED_TRACE(row.name);
    std::vector<PlaceHolder> holders;
    for (const HolderRow& holder : row.holders)
      holders.push_back(
          {.since = now - microseconds(holder.ageMicroseconds), .answered = holder.answered});
    const PlaceVerdict verdict = JudgePlace(holders, row.oneAtATime, now);
    EXPECT_EQ(verdict.free, row.free);
    if (row.retryInMicroseconds)
      EXPECT_EQ(verdict.retryAt, now + microseconds(*row.retryInMicroseconds));
    else
      EXPECT_EQ(verdict.retryAt, std::nullopt);
  }
}

TEST(ReplyConnection, ClosesWhenTheFinalHeadSaysSo) {
  const struct {
    std::vector<const char*> head;
    bool closes;
  } rows[] = {
      {{"HTTP/1.0 200 OK\r\n"}, true},
      {{"HTTP/1.0 200 OK\r\n", "Connection: Keep-Alive\r\n"}, false},
      {{"HTTP/1.1 200 OK\r\n"}, false},
      {{"HTTP/1.1 200 OK\r\n", "connection: Upgrade, close\r\n"}, true},
      {{"HTTP/1.1 200 OK\r\n", "X-Connection: closed-caption\r\n"}, false},
      {{"HTTP/1.0 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n"}, false},
  };
  for (const auto& row : rows) {
    ReplyConnection connection;
    for (const char* line : row.head)
      connection.NoteHeaderLine(line);
    EXPECT_EQ(connection.Closes(), row.closes) << row.head.back();
  }
}

// `readers` threads each reading the server's page.
std::vector<std::future<std::string>> ReadAtOnce(const RawServer& server, int readers) {
  std::vector<std::future<std::string>> pages;
  for (int i = 0; i < readers; ++i)
    pages.push_back(
        std::async(std::launch::async, [&] { return testing::ReadPage(server.Address()); }));
  return pages;
}

// A server that closes each connection and answers one request at a time,
// and only once as many wait as the places let come: the page named by its
// path. Drive() lets `requests` through, one by one.
class OneAnswerAtATime {
 public:
  RawServer::Handler Handler() {
    return [this](int socket, std::stop_token stop) {
      const std::string request = testing::ReadRequest(socket, stop);
      if (request.empty())
        return;
      {
        std::unique_lock lock(mutex_);
        mostUnanswered_ = std::max(mostUnanswered_, ++unanswered_);
        changed_.notify_all();
        if (!changed_.wait(lock, stop, [&] { return mayAnswer_; }))
          return;
        mayAnswer_ = false;
        --unanswered_;
        ++served_;
        changed_.notify_all();
      }
      testing::SendAll(
          socket, testing::Reply(testing::RequestPath(request), "200 OK", "Connection: close\r\n"));
    };
  }
  void Drive(int requests) {
    for (;;) {
      std::unique_lock lock(mutex_);
      if (served_ == requests)
        return;
      const int waiting = std::min(kMaxConnectingPerServer, requests - served_);
      ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return !mayAnswer_ && unanswered_ >= waiting; }));
      mayAnswer_ = true;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(30), [&] { return !mayAnswer_; });
    }
  }
  int mostUnanswered() const { return mostUnanswered_; }

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  int unanswered_ = 0;
  int mostUnanswered_ = 0;
  int served_ = 0;
  bool mayAnswer_ = false;
};

// Readers on as many threads open their connections to one server a few at
// a time: a new one waits while kMaxConnectingPerServer are unanswered.
TEST(Connections, AFewNewOnesToOneServerAtATime) {
  constexpr int kReaders = 2 * kMaxConnectingPerServer;
  OneAnswerAtATime answers;
  const RawServer server(answers.Handler());
  auto pages = ReadAtOnce(server, kReaders);
  answers.Drive(kReaders);
  for (auto& page : pages)
    EXPECT_EQ(page.get(), "/");
  EXPECT_EQ(answers.mostUnanswered(), kMaxConnectingPerServer);
}

// Readers of one group on one thread keep to the same places, though a
// place they wait for is held by their own transfers, which only that
// thread moves on: none of them waits in a way that would stop the others.
// Each gets its own page, in whatever order the server answers.
TEST(Connections, AGroupOnOneThreadKeepsToThePlacesAndEachGetsItsPage) {
  constexpr int kReaders = 2 * kMaxConnectingPerServer;
  OneAnswerAtATime answers;
  const RawServer server(answers.Handler());
  std::stop_source giveUp;  // when the server waits in vain: the readers must not hang the test
  auto pages = std::async(std::launch::async, [&] {
    ReaderGroup group;
    std::deque<PageReader> readers;
    for (int i = 0; i < kReaders; ++i)
      readers.emplace_back(group, giveUp.get_token())
          .Start(server.Address("/" + std::to_string(i)));
    std::vector<std::string> texts;
    for (PageReader& reader : readers) {
      reader.AwaitReply();
      texts.push_back(reader.ReadToEnd(true));
    }
    return texts;
  });
  answers.Drive(kReaders);
  if (HasFailure())
    giveUp.request_stop();
  const std::vector<std::string> texts = pages.get();
  for (int i = 0; i < kReaders; ++i)
    EXPECT_EQ(texts[static_cast<std::size_t>(i)], "/" + std::to_string(i));
  EXPECT_EQ(answers.mostUnanswered(), kMaxConnectingPerServer);
}

// A reader of a group whose server has no place free waits for one past its
// stall time (the wait is no stall), sleeping, not spinning, and reads its
// page once a place is free.
TEST(Connections, AGroupReaderWaitsForAPlaceAsleep) {
  const RawServer server([](int socket, std::stop_token stop) {
    if (!testing::ReadRequest(socket, stop).empty())
      testing::SendAll(socket, testing::Reply("page"));
  });
  std::vector<ServerSlot> held;
  while (std::optional<ServerSlot> slot =
             TryTakeServerPlace("127.0.0.1#" + std::to_string(server.port())))
    held.push_back(std::move(*slot));
  ASSERT_EQ(held.size(), static_cast<std::size_t>(kMaxConnectingPerServer));
  const auto threadSeconds = [] {
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
  };
  std::promise<void> reading;
  auto read = std::async(std::launch::async, [&] {
    ReaderGroup group;
    PageReader reader(
        group, {}, {.connect = std::chrono::seconds(30), .stall = std::chrono::milliseconds(200)});
    const double cpuBefore = threadSeconds();
    const auto start = std::chrono::steady_clock::now();
    reading.set_value();
    reader.Open(server.Address());
    const std::string page = reader.ReadToEnd(true);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return std::pair{page, (threadSeconds() - cpuBefore) / wall.count()};
  });
  // The wait itself is the case: well past the reader's stall time, counted
  // from when it began.
  reading.get_future().wait();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  held.clear();
  const auto [page, busy] = read.get();
  EXPECT_EQ(page, "page");
  EXPECT_LT(busy, 0.3) << "the waiting reader spun";
}

// A server that closes every connection gets the next one once a reply is
// done, or after a short patience: one slow to answer still has as many side
// by side as may be unanswered at once. Its first reply tells the reader that
// it closes its connections; the others wait until that many are open.
TEST(Connections, ASlowServerThatClosesEachStillHasThemSideBySide) {
  std::mutex mutex;
  std::condition_variable_any changed;
  int open = 0;
  int mostOpen = 0;
  bool released = true;  // the first reply goes at once
  const RawServer server([&](int socket, std::stop_token stop) {
    if (testing::ReadRequest(socket, stop).empty())
      return;
    {
      std::unique_lock lock(mutex);
      mostOpen = std::max(mostOpen, ++open);
      changed.notify_all();
      changed.wait_for(lock, stop, std::chrono::seconds(30), [&] {
        released = released || open == kMaxConnectingPerServer;
        return released;
      });
      --open;
    }
    testing::SendAll(socket, "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\npage");
  });
  ASSERT_EQ(testing::ReadPage(server.Address()), "page");
  {
    const std::lock_guard lock(mutex);
    released = false;
    mostOpen = 0;
  }
  auto pages = ReadAtOnce(server, kMaxConnectingPerServer);
  for (auto& page : pages)
    EXPECT_EQ(page.get(), "page");
  EXPECT_EQ(mostOpen, kMaxConnectingPerServer);
}

// Readers on many threads against a server that closes each connection and
// answers at once: every page arrives whole, and every connection carries a
// request, the ones opened for a waiting reader by another thread too.
TEST(Connections, AOneAtATimeServerGetsARequestOnEveryConnection) {
  constexpr int kReaders = 6;
  constexpr int kPagesEach = 5;
  std::atomic<int> requests{0};
  const RawServer server([&](int socket, std::stop_token stop) {
    const std::string request = testing::ReadRequest(socket, stop);
    if (request.empty())
      return;
    ++requests;
    const std::string page = testing::RequestPath(request);
    testing::SendAll(socket, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(page.size()) +
                                 "\r\n\r\n" + page);
  });
  std::vector<std::future<bool>> readers;
  for (int reader = 0; reader < kReaders; ++reader) {
    readers.push_back(std::async(std::launch::async, [&server, reader] {
      bool whole = true;
      for (int page = 0; page < kPagesEach; ++page) {
        const std::string path = "/" + std::to_string(reader) + "/" + std::to_string(page);
        whole = testing::ReadPage(server.Address(path)) == path && whole;
      }
      return whole;
    }));
  }
  for (auto& reader : readers)
    EXPECT_TRUE(reader.get());
  EXPECT_EQ(requests.load(), kReaders * kPagesEach);
  EXPECT_EQ(server.connections(), kReaders * kPagesEach);
}

TEST(Connections, AServerIsKnownByTheOriginOfItsPages) {
  const struct {
    const char* address;
    const char* origin;
  } rows[] = {
      {"http://www.site.test:8080/song/1//", "http://www.site.test:8080"},
      {"http://site.test", "http://site.test"},
      {"https://site.test?q=1", "https://site.test"},
      {"site.test/song/1", "site.test"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(OriginOf(row.address), row.origin) << row.address;

  const RawServer keepsConnections([](int socket, std::stop_token stop) {
    if (!testing::ReadRequest(socket, stop).empty())
      testing::SendAll(socket, testing::Reply("page"));
  });
  EXPECT_EQ(PaceOf(keepsConnections.Address("/never/read")), ServerPace::kUnknown);
  ASSERT_EQ(testing::ReadPage(keepsConnections.Address("/first")), "page");
  EXPECT_EQ(PaceOf(keepsConnections.Address("/another")), ServerPace::kSideBySide);
}

// A freed or answered place goes to a waiter or back to the pool, and a
// waiter that gave up takes none with it: the places never shrink or grow.
TEST(Connections, NoPlaceIsLostToAWaiterThatGaveUp) {
  const std::string server = "places-test#1";
  const auto take = [&server](std::stop_token stop) -> std::optional<ServerSlot> {
    std::optional<TakenPlace> taken = TakeServerPlace(server, stop);
    return taken ? std::optional(std::move(taken->slot)) : std::nullopt;
  };
  const auto takeInTime = [&](std::stop_token stop = {}) {
    auto taken = std::async(std::launch::async, take, stop);
    EXPECT_EQ(taken.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    return taken.get();
  };
  std::vector<std::optional<ServerSlot>> held(kMaxConnectingPerServer);
  for (auto& slot : held) {
    slot = takeInTime();
    ASSERT_TRUE(slot);
  }
  std::stop_source giveUp;
  auto gaveUp = std::async(std::launch::async, take, giveUp.get_token());
  giveUp.request_stop();
  EXPECT_FALSE(gaveUp.get());

  auto waiter = std::async(std::launch::async, take, std::stop_token());
  held[0].reset();  // handed to the waiter, or freed before it came
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  held[0] = waiter.get();
  ASSERT_TRUE(held[0]);
  auto answeredFor = std::async(std::launch::async, take, std::stop_token());
  held[1]->Answered();
  std::optional<ServerSlot> beside = answeredFor.get();
  ASSERT_TRUE(beside);
  beside.reset();
  for (auto& slot : held)
    slot.reset();
  for (auto& slot : held) {  // all of them free again, none more
    slot = takeInTime();
    ASSERT_TRUE(slot);
  }
  // A free place goes even to a taker already told to stop, so one place
  // more than there should be would show here; none waits for nothing.
  std::stop_source full;
  full.request_stop();
  EXPECT_FALSE(take(full.get_token()));
}

}  // namespace
}  // namespace melo::net
