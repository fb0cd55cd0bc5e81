#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/fault.h"
#include "platform/net.h"
#include "platform/open_counts.h"

namespace tavro::platform {
namespace {

SOCKET handle(Socket socket) noexcept { return static_cast<SOCKET>(socket); }

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) noexcept {
  sockaddr_in address{};
  std::memcpy(&address, &endpoint, sizeof address);
  return address;
}

}  // namespace

Socket openUdpSocket(bool registeredIo) noexcept {
  if (injected(Call::WSASocketA)) return kInvalidSocket;
  const DWORD flags = registeredIo ? WSA_FLAG_REGISTERED_IO : WSA_FLAG_OVERLAPPED;
  const SOCKET created = ::WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, flags);
  if (created == INVALID_SOCKET) return kInvalidSocket;
  countOpened(Resource::kSocket);
  return static_cast<Socket>(created);
}

int32_t bindTo(Socket socket, const Ipv4Endpoint& local) noexcept {
  if (injected(Call::bind)) return kSocketError;
  const sockaddr_in address = toSockaddr(local);
  return ::bind(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int32_t boundEndpoint(Socket socket, Ipv4Endpoint* out) noexcept {
  if (injected(Call::getsockname)) return kSocketError;
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(handle(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return kSocketError;
  }
  std::memcpy(out, &address, sizeof *out);
  return 0;
}

int32_t sendDatagram(Socket socket, const void* data, int32_t length,
                     const Ipv4Endpoint& peer) noexcept {
  if (injected(Call::sendto)) return kSocketError;
  const sockaddr_in address = toSockaddr(peer);
  return ::sendto(handle(socket), static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int32_t receiveDatagram(Socket socket, void* buffer, int32_t length) noexcept {
  if (injected(Call::recvfrom)) return kSocketError;
  const int received =
      ::recvfrom(handle(socket), static_cast<char*>(buffer), length, 0, nullptr, nullptr);
  // Winsock fails a datagram longer than the buffer after filling it; Linux
  // cuts it. Both builds count it with the bytes the buffer got.
  if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) return length;
  return received;
}

}  // namespace tavro::platform
