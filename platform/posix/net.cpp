#include "platform/net.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "platform/fault.h"
#include "platform/posix/net_state.h"

namespace tavro::platform {

std::atomic<int> netUsers{0};

int netStartup() noexcept {
  if (injected(Call::WSAStartup)) return 10091;  // WSASYSNOTREADY
  netUsers.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

void netCleanup() noexcept {
  if (injected(Call::WSACleanup)) return;
  int users = netUsers.load(std::memory_order_acquire);
  while (users > 0 && !netUsers.compare_exchange_weak(users, users - 1)) {
  }
}

void shutdownBoth(Socket socket) noexcept {
  if (injected(Call::shutdown)) return;
  ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void closeSocket(Socket socket) noexcept {
  if (injected(Call::closesocket)) return;
  ::close(static_cast<int>(socket));
}

}  // namespace tavro::platform
