#pragma once
// The one way tests reach what the process holds once, named for what they
// ask of it and do to it, so how the process keeps it changes here alone.
#include "control/control_connection.h"
#include "driver/process.h"
#include "platform/fault.h"
#include "platform/rio.h"
#include "stream/stream_control.h"

namespace tavro::testing {

// For the control and stream functions that take what they work on.
inline control::Connection& controlConnection() { return driver::process().connection; }
inline stream::StreamState& streamSlot() { return driver::process().stream; }

inline bool controlConnectionOpen() { return controlConnection().open(); }
inline bool dataSocketOpen() { return streamSlot().dataSocket.load() != platform::kInvalidSocket; }
inline bool streamThreadGone() { return streamSlot().streamThread == nullptr; }
inline bool streamStopped() { return streamSlot().streamStopped.load(); }
inline bool usesRegisteredIo() { return streamSlot().transport.useRio.load(); }
inline void closeControlConnection() { control::closeControlConnection(controlConnection()); }

// A socket the test connected, or a made-up one it wants to see closed, in
// place of the one the driver would have opened.
inline void adoptControlSocket(platform::Socket s) { controlConnection().socket.store(s); }
inline void adoptDataSocket(platform::Socket s) { streamSlot().dataSocket.store(s); }

// A streamer that never answers costs a test this long, not the driver's wait.
struct ShortReplyLimit {
  explicit ShortReplyLimit(uint32_t ms) { controlConnection().replyLimitMs.store(ms); }
  ~ShortReplyLimit() { controlConnection().replyLimitMs.store(control::kReplyTimeLimitMs); }
};

// As an earlier driver object leaves a stream it never stopped.
inline void leaveStreamRunning() { streamSlot().streamStopped.store(false); }

// The system taking the registered send queue away under a running stream.
inline void loseRegisteredSendQueue() {
  const stream::DataTransportState& transport = streamSlot().transport;
  platform::rioCloseCompletionQueue(transport.rioTable, transport.sendCompletionQueue);
}

// Nothing an earlier test left open, running or counted reaches the next.
inline void resetProcessState() {
  closeControlConnection();
  stream::releaseDataTransport(streamSlot());
  streamSlot().streamStopped.store(true);
  streamSlot().running.store(nullptr);
  platform::resetCallCounts();
}

}  // namespace tavro::testing
