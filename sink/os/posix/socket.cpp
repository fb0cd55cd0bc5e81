#include "sink/os/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavro::sink::os {
namespace {

sockaddr_in toSockaddr(const Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = htonl(endpoint.address);
  return address;
}

Endpoint fromSockaddr(const sockaddr_in& address) {
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

Io result(ssize_t count) {
  if (count >= 0) return {count};
  const int code = errno;
  if (code == EAGAIN || code == EWOULDBLOCK || code == EINTR) return {0, IoError::kAgain, code};
  if (code == ETIMEDOUT || code == EHOSTUNREACH) return {0, IoError::kVanished, code};
  return {0, IoError::kFailed, code};
}

}  // namespace

bool startSockets(std::string& /*error*/) { return true; }

std::string errorText(int code) { return std::strerror(code); }

bool parseIpv4(const std::string& text, uint32_t& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

std::string ipv4Text(uint32_t address) {
  const in_addr raw{htonl(address)};
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &raw, text, sizeof text);
  return text;
}

std::string endpointText(const Endpoint& endpoint) {
  return ipv4Text(endpoint.address) + ":" + std::to_string(endpoint.port);
}

Socket listenTcp(const Endpoint& at, int backlog, int& code) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    code = errno;
    return kNoSocket;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in local = toSockaddr(at);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(fd, backlog) != 0) {
    code = errno;
    ::close(fd);
    return kNoSocket;
  }
  return fd;
}

Socket bindUdp(const Endpoint& at, int receiveBufferBytes, int& code) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    code = errno;
    return kNoSocket;
  }
  // Past the system's limit when allowed (CAP_NET_ADMIN), else up to it.
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
                   sizeof receiveBufferBytes) != 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  const sockaddr_in local = toSockaddr(at);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    code = errno;
    ::close(fd);
    return kNoSocket;
  }
  return fd;
}

Accepted acceptFrom(Socket listener) {
  sockaddr_in from{};
  socklen_t fromSize = sizeof from;
  Accepted accepted;
  accepted.socket = ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &fromSize, SOCK_CLOEXEC);
  if (accepted.socket < 0) {
    accepted.socket = kNoSocket;
    accepted.code = errno;
    accepted.exhausted = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
    return accepted;
  }
  accepted.from = fromSockaddr(from);
  return accepted;
}

void closeSocket(Socket socket) {
  if (socket != kNoSocket) ::close(socket);
}

void shutdownBoth(Socket socket) { ::shutdown(socket, SHUT_RDWR); }

void noticeVanishing(Socket socket, int idleSeconds, int intervalSeconds, int probes,
                     unsigned userTimeoutMs) {
  const int on = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
  ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  // Keepalive alone never fires while ticks wait for an acknowledgement.
  ::setsockopt(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

void sendAtOnce(Socket socket) {
  const int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Io receive(Socket socket, void* into, size_t room) {
  return result(::recv(socket, into, room, MSG_DONTWAIT));
}

Io send(Socket socket, const void* data, size_t size) {
  return result(::send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL));
}

Io receiveFrom(Socket socket, void* into, size_t room, Endpoint& from) {
  sockaddr_in source{};
  socklen_t sourceSize = sizeof source;
  // MSG_TRUNC gives a datagram's real size even when it is larger than the room.
  Io io = result(::recvfrom(socket, into, room, MSG_TRUNC | MSG_DONTWAIT,
                            reinterpret_cast<sockaddr*>(&source), &sourceSize));
  if (io.error == IoError::kNone) {
    from = fromSockaddr(source);
    io.truncated = static_cast<size_t>(io.bytes) > room;
  }
  return io;
}

Io sendTo(Socket socket, const void* data, size_t size, const Endpoint& to) {
  const sockaddr_in target = toSockaddr(to);
  return result(::sendto(socket, data, size, MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr*>(&target), sizeof target));
}

bool sendAll(Socket socket, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
    if (sent <= 0) {
      if (sent < 0 && errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace tavro::sink::os
