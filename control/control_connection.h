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

// The control connection of the process, shared by every driver object: its
// socket and the one frame its exchanges use, on the host's thread only.
class Connection {
 public:
  // What a closer may do around the shutdown, when a thread may still be
  // blocked in a receive on the socket: the steps run only for the caller
  // that took the socket out, and the socket is closed only after them, so
  // that a waiting thread never meets a number the system has reused.
  class Ending {
   public:
    // Before the shutdown: a send under way may finish.
    virtual void beforeShutdown() const noexcept {}
    // After it: `cancel` ends a receive that the shutdown did not end.
    virtual void afterShutdown(void (* /*cancel*/)(platform::Socket),
                               platform::Socket /*socket*/) const noexcept {}
    virtual ~Ending() = default;
  };

  bool open() const noexcept { return socket_.load() != platform::kInvalidSocket; }
  // For one send or receive; invalid once closed.
  platform::Socket socket() const noexcept { return socket_.load(); }
  WireFrame& frame() noexcept { return frame_; }

  // How long a reply may take; tests, which cannot wait that long for every
  // silent streamer, shorten it.
  uint32_t replyLimitMs() const noexcept { return replyLimitMs_.load(); }
  void setReplyLimitMs(uint32_t milliseconds) noexcept { replyLimitMs_.store(milliseconds); }

  // A socket just made for the connection. One still held is closed first,
  // rather than lost track of.
  void adopt(platform::Socket socket) noexcept;

  // The one closer. The socket is taken out with an exchange, so that of two
  // threads closing at once only one shuts it down and closes it.
  void close(const Ending& ending) noexcept;
  void close() noexcept;

 private:
  std::atomic<platform::Socket> socket_{platform::kInvalidSocket};
  WireFrame frame_;
  std::atomic<uint32_t> replyLimitMs_{kReplyTimeLimitMs};
};

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
