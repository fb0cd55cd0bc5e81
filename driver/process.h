#pragma once
// What this process holds once, whatever the number of driver objects a host
// makes, and the one place that holds it: the control connection and its
// frame, the one stream slot (one stream per process) with its thread and
// data transport, and whether a driver object was made before. Driver
// objects hand their sessions the parts a stream uses; nothing below the
// driver keeps process state of its own.
#include <atomic>
#include <mutex>

#include "control/control_connection.h"
#include "stream/stream_control.h"

namespace tavro::driver {

struct Process {
  control::Connection connection;
  stream::StreamState stream;
  // Set by the first construction in this process and never cleared: a later
  // object ends a stream an earlier one left running.
  std::atomic<bool> driverCreated{false};
  // Host threads stop one at a time.
  std::mutex stopping;
  // The log's first line, once per process.
  std::atomic<bool> loadLogged{false};
};

Process& process() noexcept;

}  // namespace tavro::driver
