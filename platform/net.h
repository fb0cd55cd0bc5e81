#pragma once
// Sockets: Winsock on Windows, BSD sockets elsewhere.
#include <cstdint>

namespace tavro::platform {

using Socket = uintptr_t;
inline constexpr Socket kInvalidSocket = ~static_cast<Socket>(0);

// Laid out as sockaddr_in: family, port and address in network byte order.
struct Ipv4Endpoint {
  uint16_t family;
  uint16_t port;
  uint32_t address;
  uint8_t zero[8];
};
static_assert(sizeof(Ipv4Endpoint) == 16);

// WSAStartup(2.2) / WSACleanup. The POSIX backend keeps the same count and,
// like Winsock, refuses to create sockets while it is zero.
int netStartup() noexcept;
void netCleanup() noexcept;

// shutdown(SD_BOTH) and closesocket; errors ignored.
void shutdownBoth(Socket socket) noexcept;
void closeSocket(Socket socket) noexcept;

}  // namespace tavro::platform
