#pragma once
// Waiting on several sockets at once, with a time limit. An entry has the
// layout of the system's own (pollfd, WSAPOLLFD), so a device library that
// hands out its own entries (alsa-lib) can fill them in place.
#include <cstddef>
#include <cstdint>

#include "sink/os/socket.h"

namespace tavro::sink::os {

struct PollEntry {
  Socket socket = kNoSocket;
  int16_t events = 0;
  int16_t revents = 0;
};

// The system's own flag values; each backend checks them against its headers.
#if defined(_WIN32)
inline constexpr int16_t kReadable = 0x0300;  // POLLRDNORM | POLLRDBAND
inline constexpr int16_t kWritable = 0x0010;
inline constexpr int16_t kPollError = 0x0001;
inline constexpr int16_t kHangUp = 0x0002;
inline constexpr int16_t kInvalid = 0x0004;
#else
inline constexpr int16_t kReadable = 0x0001;
inline constexpr int16_t kWritable = 0x0004;
inline constexpr int16_t kPollError = 0x0008;
inline constexpr int16_t kHangUp = 0x0010;
inline constexpr int16_t kInvalid = 0x0020;
#endif

// Entries ready, 0 when the time ran out or a signal came, -1 on failure.
// `timeoutNs` < 0 waits without limit; a system that counts in milliseconds
// rounds up, so the wait is never cut short.
int poll(PollEntry* entries, size_t count, int64_t timeoutNs);

inline PollEntry readable(Socket socket) { return {socket, kReadable, 0}; }

}  // namespace tavro::sink::os
