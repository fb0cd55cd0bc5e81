#include "stream/session.h"

namespace tavro::stream {

Session::Session(const Parts& parts) noexcept
    : config_(parts.config),
      host_(parts.host),
      packet_(parts.packet),
      transport_(parts.transport),
      state_(parts.state),
      connection_(parts.connection),
      samplePosition_(parts.samplePosition),
      drivePath_(parts.drivePath),
      driveCheck_(parts.driveCheck) {}

const char* endReasonText(EndReason reason) noexcept {
  switch (reason) {
    case EndReason::kStopped:
      return "stopped";
    case EndReason::kTicksEnded:
      return "no more ticks";
    case EndReason::kSendFailed:
      return "a packet could not be sent";
    case EndReason::kDriveGone:
      return "the removable drive is gone";
  }
  return "?";
}

EndReason Session::run() noexcept {
  // The streamer gets the first half before it asks for anything.
  processTick();
  alignas(8) unsigned char buffer[kTickReceiveBytes];
  while (!ending_ && !state_.ended()) {
    const int32_t received = transport_.receiveTick(buffer);
    if (received <= 0) return EndReason::kTicksEnded;
    // Counters only: the log reads them at stop, never per tick. Ticks that
    // came together count one by one; a receive that holds none counts as
    // one tick, ignored.
    const int32_t ticks = transport_.ticksIn(received);
    ticksReceived_.fetch_add(ticks > 0 ? static_cast<uint64_t>(ticks) : 1u,
                             std::memory_order_relaxed);
    if (ticks == 0) ticksIgnored_.fetch_add(1, std::memory_order_relaxed);
    for (int32_t tick = ticks; tick > 0 && !state_.ended(); --tick) {
      if (!processTick()) ticksIgnored_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  return ending_ ? endReason_ : EndReason::kStopped;
}

bool Session::processTick() noexcept {
  if (!state_.ticksWanted() || ending_) return false;
  if (!connection_.open()) return false;
  asio::AsioCallbacks* callbacks = host_.callbacks();
  if (callbacks == nullptr || callbacks->bufferSwitch == nullptr) return false;
  callbacks->bufferSwitch(currentHalf_, asio::kAsioFalse);
  if (packCurrentHalf()) sendPacked();
  currentHalf_ = currentHalf_ == 0 ? 1 : 0;
  samplePosition_.store(
      samplePosition_.load(std::memory_order_relaxed) + config_.bufferFrames,
      std::memory_order_release);
  return true;
}

}  // namespace tavro::stream
