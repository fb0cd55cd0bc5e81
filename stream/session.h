#pragma once
// One stream as the streaming thread runs it: it waits for the streamer's
// ticks and, per tick, has the host fill a half, packs it and sends it. It
// works from a copy of the stream's configuration and from what others own
// and keep alive for as long as it runs: the host's buffers, the packet
// buffer, the transport, the shared state and the sample position.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/control_connection.h"
#include "stream/data_transport.h"
#include "stream/host_buffers.h"
#include "stream/stream_layout.h"
#include "stream/stream_state.h"

namespace tavro::stream {

// Why a stream ended by itself, or that it was stopped.
enum class EndReason {
  kStopped,       // a host's stop
  kTicksEnded,    // the tick receive failed, timed out or found the streamer gone
  kSendFailed,    // a packet did not all go out
  kDriveGone,     // drive mode: the streamer's removable drive went away
};

const char* endReasonText(EndReason reason) noexcept;

// Drive mode's check after every packet: whether the drive at `path` is
// still there.
using DriveCheck = bool (*)(const std::string& path) noexcept;
bool drivePresent(const std::string& path) noexcept;

class Session {
 public:
  struct Parts {
    StreamConfig config;
    const HostBuffers& host;
    void* packet;  // where one packed half goes
    DataTransport& transport;
    StreamState& state;
    // Looked at only: a half that could no longer be sent is never asked
    // of the host.
    const control::Connection& connection;
    // Only this thread writes it while the stream runs; hosts read it.
    std::atomic<double>& samplePosition;
    // Drive mode: the root the streamer plays from; empty otherwise.
    const std::string& drivePath;
    DriveCheck driveCheck = &drivePresent;
  };

  explicit Session(const Parts& parts) noexcept;

  // The thread's whole life: the first half at once, then one per tick,
  // until the stream ends. Returns why it ended.
  EndReason run() noexcept;

  // One tick: the host fills the current half, which is packed and sent.
  // False when the tick moved nothing.
  bool processTick() noexcept;

  // The steps of one tick's packet, split so that a stop arriving between
  // packing and sending can be looked at on its own. Packing is false, with
  // nothing written, when there is nothing to send: not streaming, the
  // control connection closed, or no buffers of the size the stream packs.
  bool packCurrentHalf() noexcept;
  // Unless a stop has come meanwhile, sends and counts the packet; then
  // checks the drive, except after a failed send.
  void sendPacked() noexcept;
  void setCurrentHalf(int32_t half) noexcept { currentHalf_ = half; }

  // For the log's stop line, read by a host thread that ends the stream.
  uint64_t packetsSent() const noexcept { return packetsSent_.load(std::memory_order_relaxed); }
  uint64_t ticksReceived() const noexcept {
    return ticksReceived_.load(std::memory_order_relaxed);
  }
  uint64_t ticksIgnored() const noexcept { return ticksIgnored_.load(std::memory_order_relaxed); }
  const StreamConfig& config() const noexcept { return config_; }

 private:
  const StreamConfig config_;
  const HostBuffers& host_;
  void* const packet_;
  DataTransport& transport_;
  StreamState& state_;
  const control::Connection& connection_;
  std::atomic<double>& samplePosition_;
  const std::string& drivePath_;
  const DriveCheck driveCheck_;

  // The streaming thread's own.
  int32_t currentHalf_ = 0;
  // Set when a packet failed or the drive went: the rest of the ticks in
  // hand move nothing, and the loop ends before the next receive.
  bool ending_ = false;
  EndReason endReason_ = EndReason::kStopped;

  // Ticks the streamer sent, and those that moved nothing (no host buffers
  // or callbacks, or a receive of the wrong size).
  std::atomic<uint64_t> packetsSent_{0};
  std::atomic<uint64_t> ticksReceived_{0};
  std::atomic<uint64_t> ticksIgnored_{0};
};

// The tick adds to the position without a lock on every buffer half.
static_assert(std::atomic<double>::is_always_lock_free);

}  // namespace tavro::stream
