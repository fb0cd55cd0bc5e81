#include "sink/os/socket.h"

#include <winsock2.h>
// After winsock2.h, which they build on.
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <cstring>

namespace tavro::sink::os {
namespace {

static_assert(kNoSocket == INVALID_SOCKET);

// Winsock's SIO_UDP_CONNRESET, which older MinGW headers lack.
constexpr DWORD kUdpConnectionReset = _WSAIOW(IOC_VENDOR, 12);

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

Io failure() {
  const int code = ::WSAGetLastError();
  switch (code) {
    case WSAEWOULDBLOCK:
    case WSAEINTR:
    case WSAEINPROGRESS:
      return {0, IoError::kAgain, code};
    // A keepalive that found no peer resets the connection with WSAENETRESET.
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETRESET:
      return {0, IoError::kVanished, code};
    default:
      return {0, IoError::kFailed, code};
  }
}

Io result(int count) { return count == SOCKET_ERROR ? failure() : Io{count}; }

// Winsock has no per-call "do not wait": every socket of the sink never waits.
bool neverWait(SOCKET socket) {
  u_long on = 1;
  return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

}  // namespace

bool startSockets(std::string& error) {
  static const int started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) error = "Winsock cannot start: " + errorText(started);
  return started == 0;
}

std::string errorText(int code) {
  char text[256] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string said(text, length);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) {
    said.pop_back();
  }
  return said.empty() ? "Winsock error " + std::to_string(code) : said;
}

bool parseIpv4(const std::string& text, uint32_t& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

std::string ipv4Text(uint32_t address) {
  in_addr raw{};
  raw.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &raw, text, sizeof text);
  return text;
}

std::string endpointText(const Endpoint& endpoint) {
  return ipv4Text(endpoint.address) + ":" + std::to_string(endpoint.port);
}

Socket listenTcp(const Endpoint& at, int backlog, int& code) {
  const SOCKET socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    code = ::WSAGetLastError();
    return kNoSocket;
  }
  // Windows' SO_REUSEADDR would let another program take the port from
  // under the sink; this keeps it the sink's alone.
  const BOOL on = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  const sockaddr_in local = toSockaddr(at);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(socket, backlog) != 0 || !neverWait(socket)) {
    code = ::WSAGetLastError();
    ::closesocket(socket);
    return kNoSocket;
  }
  return socket;
}

Socket bindUdp(const Endpoint& at, int receiveBufferBytes, int& code) {
  const SOCKET socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                     WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    code = ::WSAGetLastError();
    return kNoSocket;
  }
  ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
               sizeof receiveBufferBytes);
  // A tick sent to a driver port that has closed comes back as an ICMP
  // "port unreachable", which Winsock would report on the next receive as
  // a reset of a socket that has no connection to reset.
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(socket, kUdpConnectionReset, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
  const sockaddr_in local = toSockaddr(at);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      !neverWait(socket)) {
    code = ::WSAGetLastError();
    ::closesocket(socket);
    return kNoSocket;
  }
  return socket;
}

Accepted acceptFrom(Socket listener) {
  sockaddr_in from{};
  int fromSize = sizeof from;
  Accepted accepted;
  const SOCKET socket = ::accept(listener, reinterpret_cast<sockaddr*>(&from), &fromSize);
  if (socket == INVALID_SOCKET) {
    accepted.code = ::WSAGetLastError();
    accepted.exhausted = accepted.code == WSAEMFILE || accepted.code == WSAENOBUFS;
    return accepted;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  neverWait(socket);
  accepted.socket = socket;
  accepted.from = fromSockaddr(from);
  return accepted;
}

void closeSocket(Socket socket) {
  if (socket != kNoSocket) ::closesocket(socket);
}

void shutdownBoth(Socket socket) { ::shutdown(socket, SD_BOTH); }

void noticeVanishing(Socket socket, int idleSeconds, int intervalSeconds, int /*probes*/,
                     unsigned userTimeoutMs) {
  // Windows takes the times in one call and sends its own number of probes.
  tcp_keepalive keepalive{};
  keepalive.onoff = 1;
  keepalive.keepalivetime = static_cast<ULONG>(idleSeconds) * 1000;
  keepalive.keepaliveinterval = static_cast<ULONG>(intervalSeconds) * 1000;
  DWORD returned = 0;
  ::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned,
             nullptr, nullptr);
#ifdef TCP_MAXRT
  // Unacknowledged data is given up after this many seconds, as
  // TCP_USER_TIMEOUT does on Linux.
  const DWORD seconds = (userTimeoutMs + 999) / 1000;
  ::setsockopt(socket, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&seconds),
               sizeof seconds);
#else
  (void)userTimeoutMs;
#endif
}

void sendAtOnce(Socket socket) {
  const BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

Io receive(Socket socket, void* into, size_t room) {
  return result(::recv(socket, static_cast<char*>(into), static_cast<int>(room), 0));
}

Io send(Socket socket, const void* data, size_t size) {
  return result(::send(socket, static_cast<const char*>(data), static_cast<int>(size), 0));
}

Io receiveFrom(Socket socket, void* into, size_t room, Endpoint& from) {
  sockaddr_in source{};
  int sourceSize = sizeof source;
  const int count = ::recvfrom(socket, static_cast<char*>(into), static_cast<int>(room), 0,
                               reinterpret_cast<sockaddr*>(&source), &sourceSize);
  if (count != SOCKET_ERROR) {
    from = fromSockaddr(source);
    return {count};
  }
  // Winsock cuts a datagram larger than the room and does not say its size:
  // it is taken, cut, as one byte more than there was room for.
  if (::WSAGetLastError() == WSAEMSGSIZE) {
    from = fromSockaddr(source);
    Io io{static_cast<int64_t>(room) + 1};
    io.truncated = true;
    return io;
  }
  return failure();
}

Io sendTo(Socket socket, const void* data, size_t size, const Endpoint& to) {
  const sockaddr_in target = toSockaddr(to);
  return result(::sendto(socket, static_cast<const char*>(data), static_cast<int>(size), 0,
                         reinterpret_cast<const sockaddr*>(&target), sizeof target));
}

bool sendAll(Socket socket, const uint8_t* data, size_t size) {
  while (size > 0) {
    const Io io = send(socket, data, size);
    if (io.again()) {
      WSAPOLLFD room{socket, POLLWRNORM, 0};
      ::WSAPoll(&room, 1, 1000);
      continue;
    }
    if (io.error != IoError::kNone || io.bytes == 0) return false;
    data += io.bytes;
    size -= static_cast<size_t>(io.bytes);
  }
  return true;
}

}  // namespace tavro::sink::os
