#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "platform/fault.h"
#include "platform/net.h"
#include "platform/open_counts.h"
#include "platform/posix/net_state.h"

namespace tavro::platform {
namespace {

int fd(Socket socket) noexcept { return static_cast<int>(socket); }

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) noexcept {
  sockaddr_in address{};
  std::memcpy(&address, &endpoint, sizeof address);
  address.sin_family = AF_INET;
  return address;
}

}  // namespace

// Linux has one kind of UDP socket: the Registered I/O engine drives the
// same socket through io_uring.
Socket openUdpSocket(bool /*registeredIo*/) noexcept {
  if (injected(Call::WSASocketA)) return kInvalidSocket;
  if (netUsers.load(std::memory_order_acquire) <= 0) return kInvalidSocket;
  const int handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (handle < 0) return kInvalidSocket;
  countOpened(Resource::kSocket);
  return static_cast<Socket>(handle);
}

int32_t bindTo(Socket socket, const Ipv4Endpoint& local) noexcept {
  if (injected(Call::bind)) return kSocketError;
  const sockaddr_in address = toSockaddr(local);
  return ::bind(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
             ? 0
             : kSocketError;
}

int32_t boundEndpoint(Socket socket, Ipv4Endpoint* out) noexcept {
  if (injected(Call::getsockname)) return kSocketError;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return kSocketError;
  }
  std::memcpy(out, &address, sizeof *out);
  out->family = AF_INET;
  return 0;
}

int32_t sendDatagram(Socket socket, const void* data, int32_t length,
                     const Ipv4Endpoint& peer) noexcept {
  if (injected(Call::sendto)) return kSocketError;
  if (length < 0) return kSocketError;
  const sockaddr_in address = toSockaddr(peer);
  const ssize_t sent = ::sendto(fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return sent < 0 ? kSocketError : static_cast<int32_t>(sent);
}

int32_t receiveDatagram(Socket socket, void* buffer, int32_t length) noexcept {
  if (injected(Call::recvfrom)) return kSocketError;
  if (length < 0) return kSocketError;
  const ssize_t received =
      ::recvfrom(fd(socket), buffer, static_cast<size_t>(length), 0, nullptr, nullptr);
  return received < 0 ? kSocketError : static_cast<int32_t>(received);
}

}  // namespace tavro::platform
