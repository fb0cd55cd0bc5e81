#include "stream/stream_thread.h"

#include <mutex>

#include "asio/asio.h"
#include "control/control_connection.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "stream/data_transport.h"
#include "stream/pack_and_send.h"
#include "stream/session.h"
#include "stream/stream_control.h"

namespace tavro::stream {
namespace {

constexpr uintptr_t kStreamProcessorMask = 2;
constexpr uint32_t kDriveModeSettleMilliseconds = 3000;
constexpr uint32_t kWakeByShutdownMilliseconds = 1000;
constexpr uint64_t kSendUnderWayNanoseconds = 1'000'000'000;
constexpr uint32_t kSendUnderWayNaps = 1000;

thread_local bool isStreamThread = false;

// A datagram is one tick when it holds exactly two bytes. The control
// connection is a byte stream: ticks the thread was too late to take one by
// one arrive together in one receive, and dropping them would leave the
// stream behind the streamer for good, so every two bytes count (an odd
// count is no tick, as a datagram of the wrong size is none).
int32_t ticksIn(const Session& session, int32_t received) noexcept {
  if (session.transport->overDatagrams) return received == 2 ? 1 : 0;
  return received % 2 == 0 ? received / 2 : 0;
}

uint32_t runStream(void* argument) {
  isStreamThread = true;
  Session& session = *static_cast<Session*>(argument);
  StreamState& state = *session.slot;
  // The streamer gets the first half before it asks for anything.
  processTick(session);
  alignas(8) unsigned char buffer[kTickReceiveBytes];
  while (!state.streamStopped.load(std::memory_order_acquire)) {
    const int32_t received = receiveTick(session, buffer);
    if (received <= 0) {
      control::closeControlConnection(*session.connection);
      break;
    }
    // Counters only: the log reads them at stop, never per tick. Ticks that
    // came together count one by one; a receive that holds none counts as
    // one tick, ignored.
    const int32_t ticks = ticksIn(session, received);
    session.ticksReceived.fetch_add(ticks > 0 ? static_cast<uint64_t>(ticks) : 1u,
                                    std::memory_order_relaxed);
    if (ticks == 0) session.ticksIgnored.fetch_add(1, std::memory_order_relaxed);
    for (int32_t tick = ticks; tick > 0 && !state.streamStopped.load(std::memory_order_acquire);
         --tick) {
      if (!processTick(session)) session.ticksIgnored.fetch_add(1, std::memory_order_relaxed);
    }
  }
  endStream(session);
  return 0;
}

}  // namespace

bool onStreamThread() noexcept { return isStreamThread; }

bool processTick(Session& session) noexcept {
  if (!session.streaming.load(std::memory_order_acquire)) return false;
  // A half that can no longer be sent is never asked of the host: the drive
  // check may close the connection while more ticks wait in one receive.
  if (!session.connection->open()) return false;
  // Loaded once: a host may clear it between a test and a call.
  asio::AsioCallbacks* callbacks = session.callbacks.load(std::memory_order_acquire);
  if (callbacks == nullptr || callbacks->bufferSwitch == nullptr) return false;
  callbacks->bufferSwitch(session.currentHalf, asio::kAsioFalse);
  packAndSend(session, kPacketSteps);
  session.currentHalf = session.currentHalf == 0 ? 1 : 0;
  // Only this thread writes the position; hosts read it from theirs.
  session.samplePosition.store(
      session.samplePosition.load(std::memory_order_relaxed) + session.config.bufferFrames,
      std::memory_order_release);
  return true;
}

bool startStreamThread(Session& session, platform::ThreadHandle hostThread,
                       uintptr_t hostAffinity) noexcept {
  StreamState& state = *session.slot;
  state.running.store(&session, std::memory_order_release);
  state.priorityClass = platform::processPriorityClass();
  state.hostThread = hostThread;
  state.hostAffinity = hostAffinity;
  state.streamStopped.store(false, std::memory_order_release);
  platform::setProcessPriorityClass(platform::kRealtimePriorityClass);
  platform::setThreadAffinity(hostThread, kStreamProcessorMask);

  // Set before the thread exists, so that its first tick always counts.
  session.streaming.store(true, std::memory_order_release);
  const platform::ThreadHandle thread = platform::startThread(runStream, &session);
  if (thread == nullptr) {
    session.streaming.store(false, std::memory_order_release);
    state.streamStopped.store(true, std::memory_order_release);
    state.running.store(nullptr, std::memory_order_release);
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
void settleDriveMode(const Session& session) noexcept {
  if (session.packetsSent.load(std::memory_order_relaxed) < 2 && session.config.driveMode != 0 &&
      session.config.transportMode == control::kTransportTcp) {
    platform::sleepMilliseconds(kDriveModeSettleMilliseconds);
  }
}

// A packet cut short on a TCP connection leaves the streamer a broken
// stream; one that takes longer than this is stuck behind a streamer that
// no longer reads, and shutting the connection down is what frees it.
void letSendUnderWayFinish(const StreamState& slot) noexcept {
  const std::atomic<bool>& sending = slot.sending;
  const uint64_t until = platform::monotonicNanoseconds() + kSendUnderWayNanoseconds;
  // Counted as well, for a clock that cannot be read.
  for (uint32_t naps = 0; sending.load() && naps < kSendUnderWayNaps; ++naps) {
    if (platform::monotonicNanoseconds() >= until) break;
    platform::sleepMilliseconds(1);
  }
}

}  // namespace

bool endStream(Session& caller, bool sendStopSignalFirst) noexcept {
  StreamState& state = *caller.slot;
  // An exchange, not a test and a set: the host's stop and a dying streaming
  // thread may get here at the same moment.
  if (state.streamStopped.exchange(true, std::memory_order_acq_rel)) return false;
  Session* running = state.running.load(std::memory_order_acquire);
  Session& session = running != nullptr ? *running : caller;
  platform::log::line("stop: %s; packets %llu, ticks %llu, ignored ticks %llu",
                      isStreamThread ? "the stream ended" : "the host stops",
                      static_cast<unsigned long long>(session.packetsSent.load()),
                      static_cast<unsigned long long>(session.ticksReceived.load()),
                      static_cast<unsigned long long>(session.ticksIgnored.load()));

  platform::closeHandle(session.streamMutex);
  session.streamMutex = nullptr;
  platform::setProcessPriorityClass(state.priorityClass);
  if (isStreamThread) {
    if (session.connection->open()) settleDriveMode(session);
    control::closeControlConnection(*session.connection);
    return true;
  }

  // On a host's thread the streaming thread is still running: it leaves its
  // receive before anything it uses is sent on or closed. In UDP mode its
  // receive is on the data socket, so the stop datagram can go before the
  // control connection closes, as the streamer expects.
  if (session.transport->overDatagrams) {
    wakeTickReceive(state);
    joinStreamThread(state);
    if (sendStopSignalFirst) sendStopSignalIfOpen(session);
  }
  // Taken out of the shared handle first, so that the streaming thread never
  // closes it too; shut down, which ends a receive on it; closed only once
  // the thread is gone, so that it never uses a number since reused.
  const platform::Socket taken = session.connection->socket.exchange(platform::kInvalidSocket);
  if (taken != platform::kInvalidSocket) {
    settleDriveMode(session);
    letSendUnderWayFinish(state);
    platform::shutdownBoth(taken);
  }
  wakeTickReceive(state);
  // Where a shut-down socket does not end a blocked receive and the
  // streamer does not answer with a close, cancelling the receive does; the
  // socket itself stays open until the thread is gone.
  if (taken != platform::kInvalidSocket && state.streamThread != nullptr &&
      !platform::waitForThread(state.streamThread, kWakeByShutdownMilliseconds)) {
    platform::cancelBlockedReceive(taken);
  }
  joinStreamThread(state);
  if (taken != platform::kInvalidSocket) platform::closeSocket(taken);
  return true;
}

void joinStreamThread(StreamState& state) noexcept {
  if (isStreamThread) return;
  // Two host threads stopping at once both come here: one joins and closes
  // the handles, the other waits for that and then finds nothing to do, so
  // that neither returns while the thread still runs nor closes a handle twice.
  const std::lock_guard<std::mutex> hold(state.joining);
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
