#include "stream/stream_thread.h"

#include <mutex>

#include "asio/asio.h"
#include "control/control_connection.h"
#include "driver/vantrel.h"
#include "stream/data_transport.h"
#include "stream/stream_control.h"

namespace tavro::stream {
namespace {

constexpr uintptr_t kStreamProcessorMask = 2;
constexpr uint32_t kDriveModeSettleMilliseconds = 3000;

thread_local bool isStreamThread = false;

uint32_t runStream(void* /*argument*/) {
  isStreamThread = true;
  StreamState& state = streamState();
  driver::Vantrel& driver = *state.streamDriver.load(std::memory_order_acquire);
  // The streamer gets the first half before it asks for anything.
  processTick(driver);
  alignas(8) unsigned char buffer[kTickReceiveBytes];
  while (!state.streamStopped.load(std::memory_order_acquire)) {
    const int32_t received = receiveTick(driver, buffer);
    if (received == 2) {
      processTick(driver);
    } else if (received <= 0) {
      control::closeControlConnection();
      break;
    }
  }
  endStream(driver);
  return 0;
}

}  // namespace

bool onStreamThread() noexcept { return isStreamThread; }

void processTick(driver::Vantrel& driver) noexcept {
  if (!driver.streaming.load(std::memory_order_acquire)) return;
  // Loaded once: a host may clear it between a test and a call.
  asio::AsioCallbacks* callbacks = driver.hostCallbacks.load(std::memory_order_acquire);
  if (callbacks == nullptr || callbacks->bufferSwitch == nullptr) return;
  callbacks->bufferSwitch(driver.currentHalf, asio::kAsioFalse);
  driver.packAndSend();
  driver.currentHalf = driver.currentHalf == 0 ? 1 : 0;
  // Only this thread writes the position; hosts read it from theirs.
  driver.samplePosition.store(
      driver.samplePosition.load(std::memory_order_relaxed) + driver.bufferFrames,
      std::memory_order_release);
}

bool startStreamThread(driver::Vantrel& driver, platform::ThreadHandle hostThread,
                       uintptr_t hostAffinity) noexcept {
  StreamState& state = streamState();
  state.streamDriver.store(&driver, std::memory_order_release);
  state.priorityClass = platform::processPriorityClass();
  state.hostThread = hostThread;
  state.hostAffinity = hostAffinity;
  state.streamStopped.store(false, std::memory_order_release);
  platform::setProcessPriorityClass(platform::kRealtimePriorityClass);
  platform::setThreadAffinity(hostThread, kStreamProcessorMask);

  // Set before the thread exists, so that its first tick always counts.
  driver.streaming.store(true, std::memory_order_release);
  const platform::ThreadHandle thread = platform::startThread(runStream, nullptr);
  if (thread == nullptr) {
    driver.streaming.store(false, std::memory_order_release);
    state.streamStopped.store(true, std::memory_order_release);
    state.streamDriver.store(nullptr, std::memory_order_release);
    platform::setProcessPriorityClass(state.priorityClass);
    state.hostThread = nullptr;
    return false;
  }
  state.streamThread = thread;
  platform::raiseToTimeCritical(thread);
  platform::setThreadAffinity(thread, kStreamProcessorMask);
  return true;
}

namespace {

// A drive-mode streamer that has hardly begun needs a moment before the
// connection goes.
void settleDriveMode(const driver::Vantrel& driver) noexcept {
  if (driver.packetsSent.load(std::memory_order_relaxed) < 2 && driver.settings.driveMode != 0 &&
      driver.settings.transportMode == control::kTransportTcp) {
    platform::sleepMilliseconds(kDriveModeSettleMilliseconds);
  }
}

}  // namespace

bool endStream(driver::Vantrel& caller, bool sendStopSignalFirst) noexcept {
  StreamState& state = streamState();
  // An exchange, not a test and a set: the host's stop and a dying streaming
  // thread may get here at the same moment.
  if (state.streamStopped.exchange(true, std::memory_order_acq_rel)) return false;
  driver::Vantrel* running = state.streamDriver.load(std::memory_order_acquire);
  driver::Vantrel& driver = running != nullptr ? *running : caller;

  platform::closeHandle(driver.streamMutex);
  driver.streamMutex = nullptr;
  platform::setProcessPriorityClass(state.priorityClass);
  if (isStreamThread) {
    if (control::controlSocket().load() != platform::kInvalidSocket) settleDriveMode(driver);
    control::closeControlConnection();
    return true;
  }

  // On a host's thread the streaming thread is still running: it leaves its
  // receive before anything it uses is sent on or closed. In UDP mode its
  // receive is on the data socket, so the stop datagram can go before the
  // control connection closes, as the streamer expects.
  if (driver.settings.transportMode == control::kTransportUdp) {
    wakeTickReceive();
    joinStreamThread();
    if (sendStopSignalFirst) sendStopSignalIfOpen(driver);
  }
  // Taken out of the shared handle first, so that the streaming thread never
  // closes it too; shut down, which ends a receive on it; closed only once
  // the thread is gone, so that it never uses a number since reused.
  const platform::Socket taken = control::controlSocket().exchange(platform::kInvalidSocket);
  if (taken != platform::kInvalidSocket) {
    settleDriveMode(driver);
    platform::shutdownBoth(taken);
  }
  wakeTickReceive();
  joinStreamThread();
  if (taken != platform::kInvalidSocket) platform::closeSocket(taken);
  return true;
}

void joinStreamThread() noexcept {
  if (isStreamThread) return;
  StreamState& state = streamState();
  // Two host threads stopping at once both come here: one joins and closes
  // the handles, the other waits for that and then finds nothing to do, so
  // that neither returns while the thread still runs nor closes a handle twice.
  static std::mutex joining;
  const std::lock_guard<std::mutex> hold(joining);
  if (state.streamThread != nullptr) {
    // What the thread uses is closed right after this: a wait that failed
    // once is tried again rather than closing it under a running thread.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (platform::waitForThread(state.streamThread, platform::kWaitForever)) break;
    }
    platform::closeThread(state.streamThread);
    state.streamThread = nullptr;
  }
  if (state.hostThread != nullptr) {
    if (state.hostAffinity != 0) platform::setThreadAffinity(state.hostThread, state.hostAffinity);
    platform::closeThread(state.hostThread);
    state.hostThread = nullptr;
  }
}

}  // namespace tavro::stream
