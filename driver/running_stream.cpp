#include "driver/running_stream.h"

#include <new>

#include "control/error_texts.h"
#include "control/format_announcement.h"
#include "control/outcome.h"
#include "driver/process.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "stream/stream_layout.h"

namespace tavro::driver {
namespace {

constexpr uintptr_t kStreamProcessorMask = 2;
constexpr uint32_t kDriveModeSettleMilliseconds = 3000;
constexpr uint32_t kWakeByShutdownMilliseconds = 1000;
constexpr uint64_t kSendUnderWayNanoseconds = 1'000'000'000;
constexpr uint32_t kSendUnderWayNaps = 1000;

thread_local bool isStreamThread = false;

}  // namespace

bool onStreamThread() noexcept { return isStreamThread; }

std::unique_lock<std::mutex> takeStopTurn() noexcept {
  std::unique_lock<std::mutex> turn(process().stopping, std::defer_lock);
  if (!isStreamThread) turn.lock();
  return turn;
}

// On the streaming thread nobody else reads the connection: the wait for a
// drive-mode streamer is all there is to do before it closes.
class RunningStream::ThreadEnding final : public control::Connection::Ending {
 public:
  explicit ThreadEnding(const RunningStream& stream) noexcept : stream_(stream) {}
  void beforeShutdown() const noexcept override { stream_.settleDriveMode(); }

 private:
  const RunningStream& stream_;
};

// On a host's thread the streaming thread may be in a receive on the
// connection, or in a send: the send may finish, the shutdown ends the
// receive, and the socket is closed only once the thread is gone, so that
// it never uses a number since reused.
class RunningStream::HostEnding final : public control::Connection::Ending {
 public:
  explicit HostEnding(RunningStream& stream) noexcept : stream_(stream) {}
  void beforeShutdown() const noexcept override {
    stream_.settleDriveMode();
    stream_.letSendUnderWayFinish();
  }
  void afterShutdown(void (*cancel)(platform::Socket), platform::Socket socket) const noexcept override {
    stream_.transport_->wake();
    // Where a shut-down socket does not end a blocked receive and the
    // streamer does not answer with a close, cancelling the receive does.
    if (stream_.thread_ != nullptr &&
        !platform::waitForThread(stream_.thread_, kWakeByShutdownMilliseconds)) {
      cancel(socket);
    }
    stream_.joinThread();
    closedHere_ = true;
  }
  bool closedHere() const noexcept { return closedHere_; }

 private:
  RunningStream& stream_;
  mutable bool closedHere_ = false;
};

control::Outcome RunningStream::start(const Plan& plan, StartingThread& startingThread,
                                      std::unique_ptr<RunningStream>& started) noexcept {
  using control::Notification;
  std::unique_ptr<RunningStream> stream(new (std::nothrow) RunningStream(plan.state));
  if (!stream) {
    closeControlConnection();
    return control::failed(Notification::kSetupFailed);
  }
  // From here on a failure closes the connection as `stream` goes.
  const control::StreamerSettings& settings = plan.streamer.settings;
  const stream::StreamLayout layout = stream::streamLayout(
      {settings.wordLength, settings.sampleShift, settings.transportMode, plan.sampleRate,
       plan.bufferFrames});
  const uint32_t registerBytes = layout.packetBytes + stream::kTickSlotsBytes;
  if (layout.packetBytes != 0) stream->packet_ = platform::Pages(registerBytes);
  if (!stream->packet_) return control::failed(Notification::kSetupFailed);

  control::Connection& connection = process().connection;
  control::Outcome outcome;
  stream->transport_ = stream::openDataTransport(
      connection, plan.streamer,
      {stream->packet_.get(), layout.datagramSize, layout.datagramsPerBuffer, registerBytes},
      outcome);
  if (!stream->transport_) return outcome;
  outcome = control::announceFormat(connection, {layout.announcedRate, layout.wireBits,
                                                 layout.packetSizeNumber,
                                                 static_cast<int32_t>(layout.datagramSize)});
  if (!outcome.ok()) return outcome;

  stream->streamMutex_ = platform::createMutex(control::kStreamMutexName);
  stream->session_.emplace(stream::Session::Parts{
      stream::streamConfig(settings, plan.sampleRate, plan.bufferFrames, layout.wireBits),
      plan.host, stream->packet_.get(), *stream->transport_, plan.state, connection,
      plan.samplePosition, plan.drivePath});
  plan.samplePosition.store(0.0);
  stream->transport_->prime();
  if (!stream->startThread(startingThread)) {
    return control::failed(control::errors::kNoStreamThread, Notification::kSetupFailed);
  }
  platform::log::line(
      "start: rate %.0f Hz, %d frames, transport %u, %u-bit wire, packet %u bytes, %u datagrams "
      "of %u bytes",
      plan.sampleRate, plan.bufferFrames, settings.transportMode,
      static_cast<unsigned>(layout.wireBits), static_cast<unsigned>(layout.packetBytes),
      static_cast<unsigned>(layout.datagramsPerBuffer),
      static_cast<unsigned>(layout.datagramSize));
  started = std::move(stream);
  return control::kSucceeded;
}

bool RunningStream::startThread(StartingThread& startingThread) noexcept {
  priorityClass_ = platform::processPriorityClass();
  platform::setProcessPriorityClass(platform::kRealtimePriorityClass);
  platform::setThreadAffinity(startingThread.handle(), kStreamProcessorMask);
  process().running.store(this, std::memory_order_release);
  // Begun before the thread exists, so that its first tick always counts.
  state_.begin();
  started_ = true;
  thread_ = platform::startThread(&RunningStream::threadMain, this);
  if (thread_ == nullptr) {
    started_ = false;
    state_.stopTicks();
    state_.claimEnd();
    RunningStream* self = this;
    process().running.compare_exchange_strong(self, nullptr);
    platform::setProcessPriorityClass(priorityClass_);
    return false;
  }
  // The end of the stream puts the starting thread's mask back.
  hostThread_ = std::move(startingThread);
  platform::raiseToTimeCritical(thread_);
  platform::setThreadAffinity(thread_, kStreamProcessorMask);
  return true;
}

uint32_t RunningStream::threadMain(void* argument) {
  isStreamThread = true;
  auto& stream = *static_cast<RunningStream*>(argument);
  stream.streamEnded(stream.session_->run());
  return 0;
}

RunningStream::~RunningStream() {
  if (started_) {
    windUp(stream::EndReason::kStopped, false);
    joinThread();
  } else {
    // A start that failed: the streamer hears it from the connection's close.
    closeControlConnection();
  }
  if (streamMutex_ != nullptr) platform::closeHandle(streamMutex_);
  RunningStream* self = this;
  process().running.compare_exchange_strong(self, nullptr);
}

void RunningStream::streamEnded(stream::EndReason reason) noexcept {
  // A stream that ended by itself tells the streamer at once, before a stop
  // datagram a host's stop may still send: the streamer takes the close as
  // the end, and waits for nothing more. A stop that ended the loop closes
  // the connection itself.
  if (reason != stream::EndReason::kStopped) closeControlConnection();
  windUp(reason, false);
}

void RunningStream::stop() noexcept {
  const bool wasStreaming = state_.stopTicks();
  if (!windUp(stream::EndReason::kStopped, wasStreaming)) {
    // The stream ended by itself, or never began: its thread is waited for
    // before the stop datagram.
    joinThread();
    if (wasStreaming && started_) transport_->sendStopSignal();
  }
}

bool RunningStream::windUp(stream::EndReason reason, bool sendStopSignalFirst) noexcept {
  // An exchange, not a test and a set: the host's stop and a dying streaming
  // thread may get here at the same moment.
  if (!started_ || !state_.claimEnd()) return false;
  const bool streamEnded = isStreamThread;
  platform::log::line("stop: %s%s%s; packets %llu, ticks %llu, ignored ticks %llu",
                      streamEnded ? "the stream ended (" : "the host stops",
                      streamEnded ? stream::endReasonText(reason) : "", streamEnded ? ")" : "",
                      static_cast<unsigned long long>(session_->packetsSent()),
                      static_cast<unsigned long long>(session_->ticksReceived()),
                      static_cast<unsigned long long>(session_->ticksIgnored()));
  platform::closeHandle(streamMutex_);
  streamMutex_ = nullptr;
  platform::setProcessPriorityClass(priorityClass_);

  // On the streaming thread only a host stopping from its buffer switch finds
  // the connection still open here. On a host's thread, in UDP mode, the
  // receive is on the data socket, so the stop datagram can go before the
  // control connection closes, as the streamer expects.
  if (!streamEnded && transport_->wake()) {
    joinThread();
    if (sendStopSignalFirst) transport_->sendStopSignal();
  }
  const ThreadEnding threadEnding(*this);
  const HostEnding hostEnding(*this);
  closeControlConnection(streamEnded ? static_cast<const control::Connection::Ending&>(threadEnding)
                                     : hostEnding);
  if (!streamEnded && !hostEnding.closedHere()) {
    transport_->wake();
    joinThread();
  }
  return true;
}

void RunningStream::joinThread() noexcept {
  if (isStreamThread || thread_ == nullptr) return;
  // What the thread uses is released right after this: a wait that failed
  // once is tried again rather than releasing it under a running thread.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (platform::waitForThread(thread_, platform::kWaitForever)) break;
  }
  platform::closeThread(thread_);
  thread_ = nullptr;
}

void RunningStream::settleDriveMode() const noexcept {
  const stream::StreamConfig& config = session_->config();
  if (session_->packetsSent() < 2 && config.driveMode != 0 &&
      config.transportMode == control::kTransportTcp) {
    platform::sleepMilliseconds(kDriveModeSettleMilliseconds);
  }
}

// A packet cut short on a TCP connection leaves the streamer a broken
// stream; one that takes longer than this is stuck behind a streamer that
// no longer reads, and shutting the connection down is what frees it.
void RunningStream::letSendUnderWayFinish() const noexcept {
  const uint64_t until = platform::monotonicNanoseconds() + kSendUnderWayNanoseconds;
  // Counted as well, for a clock that cannot be read.
  for (uint32_t naps = 0; state_.sendUnderWay() && naps < kSendUnderWayNaps; ++naps) {
    if (platform::monotonicNanoseconds() >= until) break;
    platform::sleepMilliseconds(1);
  }
}

}  // namespace tavro::driver
