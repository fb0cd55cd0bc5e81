#include "sink/os/poll.h"

#include <poll.h>

#include <cerrno>

#include <cstddef>

namespace tavro::sink::os {

static_assert(sizeof(PollEntry) == sizeof(pollfd) &&
              offsetof(PollEntry, socket) == offsetof(pollfd, fd) &&
              offsetof(PollEntry, events) == offsetof(pollfd, events) &&
              offsetof(PollEntry, revents) == offsetof(pollfd, revents));
static_assert(kReadable == POLLIN && kWritable == POLLOUT && kPollError == POLLERR &&
              kHangUp == POLLHUP && kInvalid == POLLNVAL);

int poll(PollEntry* entries, size_t count, int64_t timeoutNs) {
  auto* raw = reinterpret_cast<pollfd*>(entries);
  if (timeoutNs < 0) {
    const int ready = ::ppoll(raw, count, nullptr, nullptr);
    return ready < 0 && errno == EINTR ? 0 : ready;
  }
  const timespec wait{static_cast<time_t>(timeoutNs / 1'000'000'000),
                      static_cast<long>(timeoutNs % 1'000'000'000)};
  const int ready = ::ppoll(raw, count, &wait, nullptr);
  return ready < 0 && errno == EINTR ? 0 : ready;
}

}  // namespace tavro::sink::os
