#include "platform/sync.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

// A named kernel object is a Unix socket bound in the abstract namespace: it
// exists exactly as long as some process holds it open, and any process can
// test for it, like a Windows named mutex.
bool addressOf(const char* name, sockaddr_un& address, socklen_t& length) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  static constexpr char kPrefix[] = "tavro-object:";
  const size_t nameLength = std::strlen(name);
  if (1 + sizeof kPrefix - 1 + nameLength > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + 1, kPrefix, sizeof kPrefix - 1);
  // An abstract socket name is counted by its length, not ended by a NUL.
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
  std::memcpy(address.sun_path + sizeof kPrefix, name, nameLength);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof kPrefix + nameLength);
  return true;
}

int bindName(const char* name, int& error) {
  sockaddr_un address;
  socklen_t length = 0;
  if (!addressOf(name, address, length)) {
    error = ENAMETOOLONG;
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    error = errno;
    close(fd);
    return -1;
  }
  return fd;
}

KernelHandle handleOf(int fd) {
  return reinterpret_cast<KernelHandle>(static_cast<intptr_t>(fd) + 1);
}

}  // namespace

KernelHandle openMutex(const char* name) noexcept {
  if (injected(Call::OpenMutexA)) return nullptr;
  int error = 0;
  const int probe = bindName(name, error);
  if (probe >= 0) {  // nobody holds the name: the mutex does not exist
    close(probe);
    return nullptr;
  }
  if (error != EADDRINUSE) return nullptr;
  // It exists. Hand out a handle that closes like any other.
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? nullptr : handleOf(fd);
}

KernelHandle createMutex(const char* name) noexcept {
  if (injected(Call::CreateMutexA)) return nullptr;
  int error = 0;
  const int fd = bindName(name, error);
  if (fd >= 0) return handleOf(fd);
  if (error != EADDRINUSE) return nullptr;
  // Already exists elsewhere: Windows returns a handle to the same object.
  const int other = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return other < 0 ? nullptr : handleOf(other);
}

void closeHandle(KernelHandle handle) noexcept {
  if (injected(Call::CloseHandle) || handle == nullptr) return;
  close(static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1));
}

}  // namespace tavro::platform
