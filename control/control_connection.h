#pragma once
// The one TCP control connection to the streamer, shared by every driver
// object in the process.
#include <atomic>
#include <cstdint>
#include <string>

#include "control/outcome.h"
#include "control/streamer_settings.h"
#include "control/wire_frame.h"
#include "platform/net.h"

namespace tavro::control {

inline constexpr char kStreamerPort[] = "48168";
inline constexpr char kSinglePcHost[] = "127.0.0.1";

// The control connection of the process, shared by every driver object:
// its socket, which whoever takes it out first closes, and the one frame
// its exchanges use, on the host's thread only.
struct Connection {
  std::atomic<platform::Socket> socket{platform::kInvalidSocket};
  WireFrame frame;
  // How long a reply may take; tests, which cannot wait that long for every
  // silent streamer, shorten it.
  std::atomic<uint32_t> replyLimitMs{kReplyTimeLimitMs};

  bool open() const noexcept { return socket.load() != platform::kInvalidSocket; }
};

// Shuts down and closes whatever socket it takes out of the connection. Two
// threads may call it at once: only one of them gets the handle to close.
void closeControlConnection(Connection& connection) noexcept;

// Formats into the frame and sends all 1024 bytes with one send. False when
// the text does not fit, the connection is closed, or send reports
// SOCKET_ERROR; a short count is not a failure.
bool sendFrame(Connection& connection, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));

// Receives into the frame until 1024 bytes have arrived; false when the
// connection is closed or ends, a receive fails, or the reply limit passes
// before that. A streamer that hangs must not hang the host with it.
bool receiveFrame(Connection& connection) noexcept;

// What init learns of the streamer and keeps for every start after it.
struct StreamerLink {
  std::string hostName;
  std::string portText;
  std::string localAddressText;  // this PC as the streamer sees it
  StreamerSettings settings;
  uint32_t bufferSizeIndex = 0;
};

// Registry settings, connection, greeting and settings query. A failure
// leaves the connection closed and says what to report.
Outcome connectStreamer(Connection& connection, StreamerLink& link) noexcept;

// Connects to hostName:portText and greets the streamer; its reply names the
// address the driver is seen from, kept in localAddressText. Success leaves
// the connection open; a failure leaves it closed.
Outcome openControlConnection(Connection& connection, StreamerLink& link) noexcept;

}  // namespace tavro::control
