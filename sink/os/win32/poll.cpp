#include "sink/os/poll.h"

#include <winsock2.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tavro::sink::os {

static_assert(sizeof(PollEntry) == sizeof(WSAPOLLFD) &&
              offsetof(PollEntry, socket) == offsetof(WSAPOLLFD, fd) &&
              offsetof(PollEntry, events) == offsetof(WSAPOLLFD, events) &&
              offsetof(PollEntry, revents) == offsetof(WSAPOLLFD, revents));
static_assert(kReadable == POLLIN && kWritable == POLLOUT && kPollError == POLLERR &&
              kHangUp == POLLHUP && kInvalid == POLLNVAL);

int poll(PollEntry* entries, size_t count, int64_t timeoutNs) {
  const INT timeoutMs =
      timeoutNs < 0 ? -1 : static_cast<INT>(std::min<int64_t>((timeoutNs + 999'999) / 1'000'000,
                                                              INT32_MAX));
  const int ready =
      ::WSAPoll(reinterpret_cast<WSAPOLLFD*>(entries), static_cast<ULONG>(count), timeoutMs);
  if (ready == SOCKET_ERROR) return ::WSAGetLastError() == WSAEINTR ? 0 : -1;
  return ready;
}

}  // namespace tavro::sink::os
