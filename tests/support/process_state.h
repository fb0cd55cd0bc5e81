#pragma once
// The one way tests reach what the process holds once, named for what they
// ask of it and do to it, so how the process keeps it changes here alone.
#include "control/control_connection.h"
#include "driver/process.h"
#include "platform/fault.h"
#include "stream/data_transport.h"

namespace tavro::testing {

// For the control functions that take the connection they work on.
inline control::Connection& controlConnection() { return driver::process().connection; }

inline bool controlConnectionOpen() { return controlConnection().open(); }
inline bool dataSocketOpen() { return stream::openDataSockets() > 0; }
inline bool streamThreadGone() { return driver::process().running.load() == nullptr; }
inline void closeControlConnection() { controlConnection().close(); }

// A socket the test connected, or a made-up one it wants to see closed, in
// place of the one the driver would have opened.
inline void adoptControlSocket(platform::Socket s) { controlConnection().adopt(s); }

// A streamer that never answers costs a test this long, not the driver's wait.
struct ShortReplyLimit {
  explicit ShortReplyLimit(uint32_t ms) { controlConnection().setReplyLimitMs(ms); }
  ~ShortReplyLimit() { controlConnection().setReplyLimitMs(control::kReplyTimeLimitMs); }
};

// Nothing an earlier test left open or counted reaches the next.
inline void resetProcessState() {
  closeControlConnection();
  platform::resetCallCounts();
}

}  // namespace tavro::testing
