#include "sink/os/stop_request.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace tavro::sink::os {
namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

// Blocked before any other thread starts, so that every thread inherits it
// and the signals wait here for the main thread.
StopRequests::StopRequests() {
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool StopRequests::wait(int64_t timeoutNs) {
  const sigset_t signals = stopSignals();
  const timespec wait{static_cast<time_t>(timeoutNs / 1'000'000'000),
                      static_cast<long>(timeoutNs % 1'000'000'000)};
  return sigtimedwait(&signals, nullptr, &wait) > 0;
}

}  // namespace tavro::sink::os
