#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/fault.h"
#include "platform/net.h"

namespace tavro::platform {

int netStartup() noexcept {
  if (injected(Call::WSAStartup)) return WSASYSNOTREADY;
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void netCleanup() noexcept {
  if (injected(Call::WSACleanup)) return;
  WSACleanup();
}

void shutdownBoth(Socket socket) noexcept {
  if (injected(Call::shutdown)) return;
  ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

void closeSocket(Socket socket) noexcept {
  if (injected(Call::closesocket)) return;
  ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace tavro::platform
