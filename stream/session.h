#pragma once
// One stream, from start to its end: what start makes for it and what the
// streaming thread works with. The driver object holds one. Start fills it
// before the streaming thread exists; while the thread runs only it changes
// the plain fields, and the host's threads touch the atomics alone.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "asio/asio.h"
#include "control/control_connection.h"
#include "platform/net.h"
#include "platform/sync.h"
#include "stream/stream_layout.h"

namespace tavro::stream {

struct Session;
struct StreamState;

// How packets go to the streamer and its ticks come back: on the control
// connection (TCP), as plain UDP datagrams, or through Registered I/O.
// Chosen once per stream, by start; the streaming thread and stop call
// through the choice and never ask which it is.
struct Transport {
  bool overDatagrams;  // ticks and audio on the data socket, not the control connection
  void (*prime)(Session& session) noexcept;
  bool (*sendPacket)(Session& session) noexcept;
  int32_t (*receiveTick)(Session& session, void* buffer) noexcept;
  void (*sendStopSignal)(Session& session) noexcept;
};

extern const Transport kTcpTransport;
extern const Transport kPlainUdpTransport;
extern const Transport kRioTransport;

struct Session {
  // What the process holds once, handed over by the driver object's owner:
  // the control connection, and the one stream slot with the data transport.
  control::Connection* connection = nullptr;
  StreamState* slot = nullptr;

  StreamConfig config;
  const Transport* transport = &kTcpTransport;

  // The host's side, as createBuffers made it: the callbacks (the host's,
  // not owned; loaded once per tick) and both halves of both channels.
  std::atomic<asio::AsioCallbacks*> callbacks{nullptr};
  const void* outputs[2] = {nullptr, nullptr};
  int32_t wordsPerHalf = 0;
  int32_t currentHalf = 0;
  // Written by the streaming thread on every tick, read by the host's threads.
  std::atomic<double> samplePosition{0.0};
  // Set by start before the thread exists; stop clears it from the host's thread.
  std::atomic<bool> streaming{false};

  // The wire: one packed half at the start of packetBuffer, then the tick slots.
  void* packetBuffer = nullptr;
  uint32_t datagramSize = 0;
  size_t datagramsPerBuffer = 0;
  uint32_t rioSlots = 0;
  platform::Ipv4Endpoint destination{};
  std::string drivePath;  // drive mode: the root the streamer plays from
  // Its existence tells other processes that a stream has been started.
  platform::KernelHandle streamMutex = nullptr;

  // Counted by the streaming thread; read by a host thread that ends the
  // stream. Ticks the streamer sent, and those that moved nothing (no host
  // buffers or callbacks, or a receive of the wrong size): the log's stop line.
  std::atomic<size_t> packetsSent{0};
  std::atomic<uint64_t> ticksReceived{0};
  std::atomic<uint64_t> ticksIgnored{0};
};

// The tick adds to the position without a lock on every buffer half.
static_assert(std::atomic<double>::is_always_lock_free);

}  // namespace tavro::stream
