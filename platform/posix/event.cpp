#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/fault.h"
#include "platform/open_counts.h"
#include "platform/posix/event_handle.h"

namespace tavro::platform {

// Non-blocking, so that the read that consumes a signal never waits: the
// counter is read to zero at once, which makes the eventfd auto-reset.
KernelHandle createEvent() noexcept {
  if (injected(Call::CreateEventA)) return nullptr;
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return nullptr;
  countOpened(Resource::kHandle);
  return eventHandleOf(fd);
}

bool setEvent(KernelHandle event) noexcept {
  if (injected(Call::SetEvent) || event == nullptr) return false;
  const uint64_t one = 1;
  return ::write(eventFdOf(event), &one, sizeof one) == sizeof one;
}

WaitResult waitForEvent(KernelHandle event, uint32_t milliseconds) noexcept {
  if (injected(Call::WaitForSingleObject) || event == nullptr) return WaitResult::kFailed;
  pollfd entry{eventFdOf(event), POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, static_cast<int>(milliseconds));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (entry.revents & (POLLERR | POLLNVAL)) != 0) return WaitResult::kFailed;
    if (ready == 0) return WaitResult::kTimedOut;
    uint64_t count = 0;
    if (::read(entry.fd, &count, sizeof count) == sizeof count) return WaitResult::kSignalled;
    // Another waiter took the signal first: wait on, as Windows would.
    if (errno != EAGAIN) return WaitResult::kFailed;
  }
}

void closeEvent(KernelHandle event) noexcept {
  if (injected(Call::CloseHandle) || event == nullptr) return;
  if (::close(eventFdOf(event)) == 0) countClosed(Resource::kHandle);
}

}  // namespace tavro::platform
