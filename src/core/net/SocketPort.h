#pragma once
// The local port of a bound IPv4 socket.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace melo::net {

// -1 when `sock` is not a bound IPv4 socket.
inline int LocalPort(int sock) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET)
    return -1;
  return ntohs(address.sin_port);
}

}  // namespace melo::net
