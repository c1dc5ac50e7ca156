#include "core/net/ServerPlaces.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/net/HeaderText.h"

namespace melo::net {
namespace {

using Clock = std::chrono::steady_clock;

// A taker waiting for a place; only the first of a server's waiters judges
// whether one is free, and it is woken alone when that may have changed.
struct PlaceWaiter {
  std::condition_variable_any poke;
  bool poked = false;
  std::function<int()> openConnection;
  std::uint64_t grantedTicket = 0;  // handed a place by another thread
  int openedSocket = -1;
};

struct ServerQueue {
  std::vector<PlaceHolder> held;
  std::deque<PlaceWaiter*> waiters;  // first come, first served
};

using ServerQueues = std::map<std::string, ServerQueue, std::less<>>;

// What the replies of one server have shown.
struct ServerManner {
  bool closesConnections = false;
  std::optional<Clock::duration> quickestReply;  // from its place taken to its end
};

struct Places {
  std::mutex mutex;
  ServerQueues servers;
  std::map<std::string, ServerManner, std::less<>> manners;
  std::map<std::string, std::string, std::less<>> serverOfOrigin;
  std::uint64_t nextTicket = 1;
};

// A server that closes every connection and answers at once serves one
// request at a time, most likely: the next connection waits for the one in
// progress. A slower one gains from connections side by side.
bool OneAtATime(const Places& places, std::string_view server) {
  const auto manner = places.manners.find(server);
  return manner != places.manners.end() && manner->second.closesConnections &&
         manner->second.quickestReply && *manner->second.quickestReply < kOneAtATimePatience;
}

Places& AllPlaces() {
  static Places places;
  return places;
}

void PokeFirstWaiter(ServerQueue& queue) {
  if (queue.waiters.empty())
    return;
  queue.waiters.front()->poked = true;
  queue.waiters.front()->poke.notify_one();
}

void ForgetIfUnused(Places& places, ServerQueues::iterator entry) {
  if (entry->second.held.empty() && entry->second.waiters.empty())
    places.servers.erase(entry);
}

std::uint64_t Hold(Places& places, ServerQueue& queue, Clock::time_point now) {
  const std::uint64_t ticket = places.nextTicket++;
  queue.held.push_back({.since = now, .answered = false, .ticket = ticket});
  return ticket;
}

// Gives the first waiter a place and opens its connection: under the places'
// lock, since the waiter may be leaving, but a connect on its way is quick.
void HandOver(Places& places, ServerQueue& queue, Clock::time_point now) {
  PlaceWaiter& waiter = *queue.waiters.front();
  queue.waiters.pop_front();
  waiter.grantedTicket = Hold(places, queue, now);
  waiter.openedSocket = waiter.openConnection();
  waiter.poked = true;
  waiter.poke.notify_one();
}

// Calls `change` on the held place of `ticket`; true when that handed a
// place over.
template <typename Change>
bool ChangeHeldPlaceLocked(const std::string& server, std::uint64_t ticket, Change change) {
  Places& places = AllPlaces();
  const std::lock_guard lock(places.mutex);
  const auto entry = places.servers.find(server);
  if (entry == places.servers.end())
    return false;
  ServerQueue& queue = entry->second;
  const auto place = std::ranges::find(queue.held, ticket, &PlaceHolder::ticket);
  if (place == queue.held.end())
    return false;
  // The first waiter is woken only when the change lets it go, or go sooner.
  const Clock::time_point now = Clock::now();
  const PlaceVerdict before = JudgePlace(queue.held, OneAtATime(places, server), now);
  change(places, queue, place, now);
  const bool oneAtATime = OneAtATime(places, server);  // the change may have told
  const PlaceVerdict after = JudgePlace(queue.held, oneAtATime, now);
  bool handedOver = false;
  if (after.free && oneAtATime && !queue.waiters.empty() && queue.waiters.front()->openConnection) {
    HandOver(places, queue, now);
    handedOver = true;
  } else if (after.free || after.retryAt != before.retryAt) {
    PokeFirstWaiter(queue);
  }
  ForgetIfUnused(places, entry);
  return handedOver;
}

// The reader a place was handed to most likely wakes on this thread's core:
// giving way lets it send its request now, not after this one's parse.
template <typename Change>
void ChangeHeldPlace(const std::string& server, std::uint64_t ticket, Change change) {
  if (ChangeHeldPlaceLocked(server, ticket, change))
    std::this_thread::yield();
}

}  // namespace

PlaceVerdict JudgePlace(std::span<const PlaceHolder> holders, bool oneAtATime,
                        Clock::time_point now) {
  const auto unanswered = std::ranges::count(holders, false, &PlaceHolder::answered);
  if (unanswered >= kMaxConnectingPerServer)
    return {};
  if (!oneAtATime || holders.empty())
    return {.free = true, .retryAt = std::nullopt};
  const Clock::time_point youngest = std::ranges::max(holders, {}, &PlaceHolder::since).since;
  if (now - youngest >= kOneAtATimePatience)
    return {.free = true, .retryAt = std::nullopt};
  return {.free = false, .retryAt = youngest + kOneAtATimePatience};
}

ServerSlot& ServerSlot::operator=(ServerSlot&& other) noexcept {
  if (this != &other) {
    GiveBack();
    server_ = std::move(other.server_);
    ticket_ = std::exchange(other.ticket_, 0);
  }
  return *this;
}

void ServerSlot::GiveBack() noexcept {
  if (ticket_ == 0)
    return;
  ChangeHeldPlace(server_, std::exchange(ticket_, 0),
                  [this](Places& places, ServerQueue& queue, auto place, Clock::time_point now) {
                    if (place->answered) {
                      auto& quickest = places.manners[server_].quickestReply;
                      quickest =
                          std::min(quickest.value_or(Clock::duration::max()), now - place->since);
                    }
                    queue.held.erase(place);
                  });
}

void ServerSlot::Answered() {
  ChangeHeldPlace(server_, ticket_, [](Places&, ServerQueue&, auto place, Clock::time_point) {
    place->answered = true;
  });
}

std::optional<TakenPlace> TakeServerPlace(const std::string& server, std::stop_token stop,
                                          std::function<int()> openConnection) {
  Places& places = AllPlaces();
  std::unique_lock lock(places.mutex);
  const auto entry = places.servers.try_emplace(server).first;
  ServerQueue& queue = entry->second;
  PlaceWaiter waiter;
  waiter.openConnection = std::move(openConnection);
  queue.waiters.push_back(&waiter);
  for (;;) {
    if (waiter.grantedTicket != 0)
      return TakenPlace{ServerSlot(server, waiter.grantedTicket), waiter.openedSocket};
    // A free place goes even to a taker already told to stop.
    std::optional<Clock::time_point> retryAt;
    if (queue.waiters.front() == &waiter) {
      const PlaceVerdict verdict = JudgePlace(queue.held, OneAtATime(places, server), Clock::now());
      if (verdict.free) {
        queue.waiters.pop_front();
        const std::uint64_t ticket = Hold(places, queue, Clock::now());
        PokeFirstWaiter(queue);  // there may be a place for the next one too
        return TakenPlace{ServerSlot(server, ticket)};
      }
      retryAt = verdict.retryAt;
    }
    waiter.poked = false;
    const auto poked = [&] { return waiter.poked; };
    if (retryAt)
      waiter.poke.wait_until(lock, stop, *retryAt, poked);
    else
      waiter.poke.wait(lock, stop, poked);
    if (stop.stop_requested() && waiter.grantedTicket == 0) {
      const bool wasFirst = queue.waiters.front() == &waiter;
      std::erase(queue.waiters, &waiter);
      if (wasFirst)
        PokeFirstWaiter(queue);
      ForgetIfUnused(places, entry);
      return std::nullopt;
    }
  }
}

std::optional<ServerSlot> TryTakeServerPlace(const std::string& server) {
  Places& places = AllPlaces();
  const std::lock_guard lock(places.mutex);
  const auto entry = places.servers.try_emplace(server).first;
  ServerQueue& queue = entry->second;
  if (!queue.waiters.empty() ||
      !JudgePlace(queue.held, OneAtATime(places, server), Clock::now()).free) {
    ForgetIfUnused(places, entry);
    return std::nullopt;
  }
  return ServerSlot(server, Hold(places, queue, Clock::now()));
}

void ReplyConnection::NoteHeaderLine(std::string_view line) {
  if (StartsWithNoCase(line, "HTTP/")) {
    *this = {};
    http10_ = StartsWithNoCase(line, "HTTP/1.0");
  } else if (StartsWithNoCase(line, "Connection:")) {
    close_ = close_ || ContainsNoCase(line, "close");
    keepAlive_ = keepAlive_ || ContainsNoCase(line, "keep-alive");
  }
}

void NoteServerClosesConnections(const std::string& server, bool closes) {
  Places& places = AllPlaces();
  const std::lock_guard lock(places.mutex);
  const bool wasOneAtATime = OneAtATime(places, server);
  places.manners[server].closesConnections = closes;
  if (wasOneAtATime && !closes) {
    if (const auto entry = places.servers.find(server); entry != places.servers.end())
      PokeFirstWaiter(entry->second);
  }
}

std::string_view OriginOf(std::string_view address) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string_view::npos)
    return address.substr(0, address.find_first_of("/?#"));
  return address.substr(0, address.find_first_of("/?#", scheme + 3));
}

void NoteAddressServer(std::string_view address, const std::string& server) {
  Places& places = AllPlaces();
  const std::lock_guard lock(places.mutex);
  places.serverOfOrigin.insert_or_assign(std::string(OriginOf(address)), server);
}

ServerPace PaceOf(std::string_view address) {
  Places& places = AllPlaces();
  const std::lock_guard lock(places.mutex);
  const auto known = places.serverOfOrigin.find(OriginOf(address));
  if (known == places.serverOfOrigin.end())
    return ServerPace::kUnknown;
  return OneAtATime(places, known->second) ? ServerPace::kOneAtATime : ServerPace::kSideBySide;
}

}  // namespace melo::net
