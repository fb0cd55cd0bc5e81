#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which declares what it uses.
#include <mstcpip.h>

#include <cstring>

#include "platform/address_list.h"
#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {
namespace {

SOCKET handle(Socket socket) noexcept { return static_cast<SOCKET>(socket); }

}  // namespace

int netStartup() noexcept {
  if (injected(Call::WSAStartup)) return WSASYSNOTREADY;
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void netCleanup() noexcept {
  if (injected(Call::WSACleanup)) return;
  WSACleanup();
}

namespace {

int32_t lookupNumeric(const char* node, const char* service, int type, int protocol,
                      Ipv4Endpoint* out) noexcept {
  if (injected(Call::getaddrinfo)) return WSAHOST_NOT_FOUND;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = AF_INET;
  hints.ai_socktype = type;
  hints.ai_protocol = protocol;
  AddressList list;
  const int result = ::getaddrinfo(node, service, &hints, list.out());
  if (result != 0) return result;
  const addrinfo* entry = list.first();
  if (entry == nullptr || entry->ai_addrlen < sizeof(sockaddr_in)) return WSAHOST_NOT_FOUND;
  std::memcpy(out, entry->ai_addr, sizeof(Ipv4Endpoint));
  return 0;
}

}  // namespace

int32_t lookupNumericTcp(const char* node, const char* service, Ipv4Endpoint* out) noexcept {
  return lookupNumeric(node, service, SOCK_STREAM, IPPROTO_TCP, out);
}

int32_t lookupNumericUdp(const char* node, const char* service, Ipv4Endpoint* out) noexcept {
  return lookupNumeric(node, service, SOCK_DGRAM, IPPROTO_UDP, out);
}

Socket openTcpSocket() noexcept {
  if (injected(Call::socket)) return kInvalidSocket;
  const SOCKET created = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (created == INVALID_SOCKET) return kInvalidSocket;
  countOpened(Resource::kSocket);
  return static_cast<Socket>(created);
}

int32_t setNoDelay(Socket socket) noexcept {
  if (injected(Call::setsockopt)) return kSocketError;
  const char on = 1;
  return ::setsockopt(handle(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int32_t enableLoopbackFastPath(Socket socket) noexcept {
  if (injected(Call::WSAIoctl)) return kSocketError;
  char on = 1;
  DWORD returned = 0;
  return ::WSAIoctl(handle(socket), SIO_LOOPBACK_FAST_PATH, &on, sizeof on, nullptr, 0, &returned,
                    nullptr, nullptr);
}

int32_t connectTo(Socket socket, const Ipv4Endpoint& peer) noexcept {
  if (injected(Call::connect)) return kSocketError;
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  return ::connect(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int32_t sendBytes(Socket socket, const void* data, int32_t length) noexcept {
  if (injected(Call::send)) return kSocketError;
  return ::send(handle(socket), static_cast<const char*>(data), length, 0);
}

int32_t receiveBytes(Socket socket, void* buffer, int32_t length) noexcept {
  if (injected(Call::recv)) return kSocketError;
  return ::recv(handle(socket), static_cast<char*>(buffer), length, 0);
}

int32_t waitReadable(Socket socket, uint32_t timeoutMs) noexcept {
  if (injected(Call::select)) return kSocketError;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(handle(socket), &readable);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
  // The first argument is ignored by Winsock.
  const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
  if (ready == SOCKET_ERROR) return kSocketError;
  return ready > 0 ? 1 : 0;
}

bool localHostName(char* name, uint32_t size) noexcept {
  if (injected(Call::gethostbyname)) return false;
  const hostent* local = ::gethostbyname("");
  if (local == nullptr || local->h_name == nullptr || size == 0) return false;
  const size_t length = std::strlen(local->h_name);
  if (length == 0 || length >= size) return false;
  std::memcpy(name, local->h_name, length + 1);
  return true;
}

bool firstIpv4Address(const char* name, char* text, uint32_t size) noexcept {
  if (injected(Call::gethostbyname)) return false;
  const hostent* host = ::gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list == nullptr ||
      host->h_addr_list[0] == nullptr) {
    return false;
  }
  in_addr address;
  std::memcpy(&address, host->h_addr_list[0], sizeof address);
  const char* dotted = ::inet_ntoa(address);
  if (dotted == nullptr) return false;
  const size_t length = std::strlen(dotted);
  if (length >= size) return false;
  std::memcpy(text, dotted, length + 1);
  return true;
}

void shutdownBoth(Socket socket) noexcept {
  if (injected(Call::shutdown)) return;
  ::shutdown(handle(socket), SD_BOTH);
}

void cancelBlockedReceive(Socket socket) noexcept {
  if (injected(Call::CancelIoEx)) return;
  ::CancelIoEx(reinterpret_cast<HANDLE>(handle(socket)), nullptr);
}

void closeSocket(Socket socket) noexcept {
  if (injected(Call::closesocket)) return;
  if (::closesocket(handle(socket)) == 0) countClosed(Resource::kSocket);
}

}  // namespace tavro::platform
