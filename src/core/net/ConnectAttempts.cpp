#include "core/net/ConnectAttempts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace melo::net {
namespace {

// A waiter for a place of one server; woken alone when a place is handed to
// it, so that a freed place does not wake every crawl worker that waits.
struct PlaceWaiter {
  std::condition_variable_any handed;
  bool granted = false;
};

// Waiters only while every place is taken: a freed place goes to the first
// of them and `taken` stays.
struct ServerQueue {
  int taken = 0;
  std::deque<PlaceWaiter*> waiters;  // first come, first served
};

using ServerQueues = std::map<std::string, ServerQueue, std::less<>>;

struct ServerPlaces {
  std::mutex mutex;
  ServerQueues servers;
};

ServerPlaces& Places() {
  static ServerPlaces places;
  return places;
}

// Hands the place to the next waiter, or frees it. Under the places' lock.
void PassOnPlace(ServerPlaces& places, ServerQueues::iterator entry) {
  ServerQueue& queue = entry->second;
  if (!queue.waiters.empty()) {
    PlaceWaiter* next = queue.waiters.front();
    queue.waiters.pop_front();
    next->granted = true;
    next->handed.notify_one();
  } else if (--queue.taken == 0) {
    places.servers.erase(entry);
  }
}

// Which attempt each socket curl opened through us belongs to. A connection
// may be closed long after its transfer is gone (from a multi handle's
// connection cache), so curl's close callback cannot point at the attempt.
struct SocketOwners {
  std::mutex mutex;
  std::map<curl_socket_t, ConnectAttempts*> owners;
};

SocketOwners& Owners() {
  static SocketOwners owners;
  return owners;
}

constexpr int kMaxRestartDoublings = 5;

std::string ServerOf(const curl_sockaddr& address, bool& loopback) {
  char text[INET6_ADDRSTRLEN] = {};
  int port = 0;
  loopback = false;
  if (address.family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address.addr);
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    port = ntohs(in.sin_port);
    loopback = (ntohl(in.sin_addr.s_addr) >> 24) == 127;
  } else if (address.family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address.addr);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
    loopback = IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr) ||
               (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr) && in6.sin6_addr.s6_addr[12] == 127);
  }
  return std::string(text) + "#" + std::to_string(port);
}

bool StillUnanswered(curl_socket_t socket) {
  tcp_info info{};
  socklen_t length = sizeof info;
  return getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
         info.tcpi_state == TCP_SYN_SENT;
}

}  // namespace

ServerSlot::~ServerSlot() {
  ServerPlaces& places = Places();
  const std::lock_guard lock(places.mutex);
  if (const auto entry = places.servers.find(server_); entry != places.servers.end())
    PassOnPlace(places, entry);
}

bool TakeServerPlace(const std::string& server, std::stop_token stop) {
  ServerPlaces& places = Places();
  std::unique_lock lock(places.mutex);
  const auto entry = places.servers.try_emplace(server).first;
  ServerQueue& queue = entry->second;
  if (queue.taken < kMaxConnectingPerServer) {
    ++queue.taken;
    return true;
  }
  PlaceWaiter waiter;
  queue.waiters.push_back(&waiter);
  waiter.handed.wait(lock, stop, [&] { return waiter.granted; });
  if (waiter.granted)
    return true;
  // Stopped while waiting: the entry lives on, since this waiter is in it.
  std::erase(queue.waiters, &waiter);
  return false;
}

ConnectAttempts::~ConnectAttempts() {
  SocketOwners& owners = Owners();
  const std::lock_guard lock(owners.mutex);
  std::erase_if(owners.owners, [this](const auto& entry) { return entry.second == this; });
}

CURLcode ConnectAttempts::Attach(CURL* easy) {
  for (const CURLcode rc : {
           curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &ConnectAttempts::OnOpen),
           curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this),
           curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &ConnectAttempts::OnClose),
           curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, nullptr),
           curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &ConnectAttempts::OnConnected),
           curl_easy_setopt(easy, CURLOPT_PREREQDATA, this),
       }) {
    if (rc != CURLE_OK)
      return rc;
  }
  return CURLE_OK;
}

bool ConnectAttempts::Stalled(Clock::time_point now) const {
  const std::optional<Clock::time_point> check = NextCheck();
  return check && now >= *check && std::ranges::all_of(sockets_, StillUnanswered);
}

std::optional<ConnectAttempts::Clock::time_point> ConnectAttempts::NextCheck() const {
  if (!loopback_ || connected_ || sockets_.empty())
    return std::nullopt;
  return attemptStart_ + Patience();
}

void ConnectAttempts::Restarted() {
  ++restarts_;
  sockets_.clear();
}

ConnectAttempts::Clock::duration ConnectAttempts::Patience() const {
  return kLoopbackConnectPatience * (1 << std::min(restarts_, kMaxRestartDoublings));
}

void ConnectAttempts::Forget(curl_socket_t socket) {
  std::erase(sockets_, socket);
}

curl_socket_t ConnectAttempts::OnOpen(void* self, curlsocktype, curl_sockaddr* address) {
  auto& attempts = *static_cast<ConnectAttempts*>(self);
  bool loopback = false;
  const std::string server = ServerOf(*address, loopback);
  // Waiting for a place is not part of the attempt: the clock starts after.
  if (!attempts.slot_) {
    if (!TakeServerPlace(server, attempts.stop_))
      return CURL_SOCKET_BAD;
    attempts.slot_.emplace(server);
  }
  const curl_socket_t socket =
      ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (socket == CURL_SOCKET_BAD)
    return socket;
  if (attempts.sockets_.empty() || attempts.connected_) {
    attempts.loopback_ = false;
    attempts.connected_ = false;
    attempts.attemptStart_ = Clock::now();
  }
  attempts.sockets_.push_back(socket);
  attempts.loopback_ = attempts.loopback_ || loopback;
  SocketOwners& owners = Owners();
  const std::lock_guard lock(owners.mutex);
  owners.owners[socket] = &attempts;
  return socket;
}

int ConnectAttempts::OnClose(void*, curl_socket_t socket) {
  {
    SocketOwners& owners = Owners();
    const std::lock_guard lock(owners.mutex);
    const auto entry = owners.owners.find(socket);
    if (entry != owners.owners.end()) {
      entry->second->Forget(socket);
      owners.owners.erase(entry);
    }
  }
  return ::close(socket);
}

int ConnectAttempts::OnConnected(void* self, char*, char*, int, int) {
  auto& attempts = *static_cast<ConnectAttempts*>(self);
  attempts.connected_ = true;
  return CURL_PREREQFUNC_OK;
}

}  // namespace melo::net
