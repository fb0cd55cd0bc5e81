#pragma once
// What this process holds once, whatever the number of driver objects a host
// makes: the control connection, and the one stream that may run (one stream
// per process, whichever object started it).
#include <atomic>
#include <mutex>

#include "control/control_connection.h"

namespace tavro::driver {

class RunningStream;

struct Process {
  control::Connection connection;
  // The stream that runs, until a host's thread has stopped it.
  std::atomic<RunningStream*> running{nullptr};
  // Set by the first construction in this process and never cleared: a later
  // object ends a stream an earlier one left running.
  std::atomic<bool> driverCreated{false};
  // Host threads stop, and wind streams up, one at a time.
  std::mutex stopping;
  // The log's first line, once per process.
  std::atomic<bool> loadLogged{false};
};

Process& process() noexcept;

// The one place outside control/ that closes the control connection: a
// stream's wind-up, with the steps its thread needs around the shutdown,
// and disposeBuffers.
void closeControlConnection(const control::Connection::Ending& ending) noexcept;
void closeControlConnection() noexcept;

}  // namespace tavro::driver
