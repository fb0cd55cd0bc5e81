#include "driver/process.h"
#include "driver/vantrel.h"

namespace tavro::driver {

asio::AsioError Vantrel::stop() noexcept {
  const std::unique_lock<std::mutex> turn = takeStopTurn();
  // The stream may be another object's: only one runs per process.
  if (RunningStream* running = process().running.load(std::memory_order_acquire)) {
    running->stop();
    if (!onStreamThread()) process().running.compare_exchange_strong(running, nullptr);
  }
  // This object's own is released here, unless this is its own thread.
  if (!onStreamThread() && prepared != nullptr) prepared->running.reset();
  return asio::kAseOk;
}

bool Vantrel::streamRunning() const noexcept {
  if (streamState.ticksWanted()) return true;
  const RunningStream* running = process().running.load(std::memory_order_acquire);
  return running != nullptr && running->runs();
}

void Vantrel::releaseEndedStream() noexcept {
  const std::unique_lock<std::mutex> turn = takeStopTurn();
  if (!onStreamThread() && prepared != nullptr) prepared->running.reset();
}

}  // namespace tavro::driver
