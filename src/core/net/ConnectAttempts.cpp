#include "core/net/ConnectAttempts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>

namespace melo::net {
namespace {

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

int TcpState(curl_socket_t socket) {
  tcp_info info{};
  socklen_t length = sizeof info;
  return getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_state : -1;
}

bool StillUnanswered(curl_socket_t socket) {
  return TcpState(socket) == TCP_SYN_SENT;
}

// A connection to `address` with its connect under way, or CURL_SOCKET_BAD.
curl_socket_t StartConnecting(const curl_sockaddr& address) {
  const curl_socket_t socket =
      ::socket(address.family, address.socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.protocol);
  if (socket != CURL_SOCKET_BAD && ::connect(socket, &address.addr, address.addrlen) != 0 &&
      errno != EINPROGRESS) {
    ::close(socket);
    return CURL_SOCKET_BAD;
  }
  return socket;
}

// Whether a connection opened by another thread can carry the request: up,
// or still on its way to a remote server. On loopback the handshake is done
// within connect() itself unless the server's backlog dropped it; and one
// that failed is left for curl to make again, and to report.
bool UsableAsOpened(curl_socket_t socket, bool loopback) {
  const int state = TcpState(socket);
  return state == TCP_ESTABLISHED || (state == TCP_SYN_SENT && !loopback);
}

}  // namespace

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
           curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &ConnectAttempts::OnSocketOptions),
           curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, this),
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

void ConnectAttempts::Answered() {
  if (slot_)
    slot_->Answered();
}

// Only a new connection tells how the server treats connections: one reused
// may well be closed after its last allowed request. And only the server it
// was opened to: not one a redirect led to.
void ConnectAttempts::ReplyHeadEnded(bool closesConnection) {
  if (slot_ && openedServer_ == slot_->server())
    NoteServerClosesConnections(openedServer_, closesConnection);
}

void ConnectAttempts::AnsweredFor(std::string_view address) {
  if (!openedServer_.empty())
    NoteAddressServer(address, openedServer_);
}

bool ConnectAttempts::TakeRefusedPlace() {
  std::optional<ServerSlot> slot = TryTakeServerPlace(refusedServer_);
  if (!slot)
    return false;
  slot_ = std::move(slot);
  placeRefused_ = false;
  sockets_.clear();
  return true;
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

bool ConnectAttempts::TakePlace(const std::string& server, const curl_sockaddr& address,
                                bool loopback) {
  std::optional<TakenPlace> taken =
      TakeServerPlace(server, stop_, [&address] { return StartConnecting(address); });
  if (!taken)
    return false;
  slot_ = std::move(taken->slot);
  if (taken->openedSocket != CURL_SOCKET_BAD) {
    if (UsableAsOpened(taken->openedSocket, loopback))
      preConnected_ = taken->openedSocket;
    else
      ::close(taken->openedSocket);
  }
  return true;
}

curl_socket_t ConnectAttempts::OnOpen(void* self, curlsocktype, curl_sockaddr* address) {
  auto& attempts = *static_cast<ConnectAttempts*>(self);
  bool loopback = false;
  const std::string server = ServerOf(*address, loopback);
  attempts.openedServer_ = server;
  attempts.preConnected_ = CURL_SOCKET_BAD;
  // Waiting for a place is not part of the attempt: the clock starts after.
  if (!attempts.slot_) {
    if (attempts.waitForPlace_) {
      if (!attempts.TakePlace(server, *address, loopback))
        return CURL_SOCKET_BAD;
    } else if (std::optional<ServerSlot> slot = TryTakeServerPlace(server)) {
      attempts.slot_ = std::move(slot);
    } else {
      // It stays refused whatever becomes of an attempt at another address
      // of the server; the retry takes a place of the first address refused,
      // which curl tries first again.
      if (!attempts.placeRefused_)
        attempts.refusedServer_ = server;
      attempts.placeRefused_ = true;
      return CURL_SOCKET_BAD;
    }
  }
  const curl_socket_t socket =
      attempts.preConnected_ != CURL_SOCKET_BAD
          ? attempts.preConnected_
          : ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
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

// A connection another thread began is not begun again.
int ConnectAttempts::OnSocketOptions(void* self, curl_socket_t socket, curlsocktype) {
  const auto& attempts = *static_cast<const ConnectAttempts*>(self);
  return socket == attempts.preConnected_ ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
}

int ConnectAttempts::OnConnected(void* self, char*, char*, int, int) {
  auto& attempts = *static_cast<ConnectAttempts*>(self);
  attempts.connected_ = true;
  attempts.everConnected_ = true;
  return CURL_PREREQFUNC_OK;
}

}  // namespace melo::net
