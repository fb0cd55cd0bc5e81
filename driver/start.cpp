#include "control/control_connection.h"
#include "control/error_texts.h"
#include "control/format_announcement.h"
#include "driver/stream_readiness.h"
#include "driver/vantrel.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "stream/data_transport.h"
#include "stream/dsd_rates.h"
#include "stream/removable_drive.h"
#include "stream/stream_control.h"
#include "stream/stream_layout.h"
#include "stream/stream_thread.h"

namespace tavro::driver {
namespace {

constexpr char kStreamMutexName[] = "Global\\TAVROStreamer Driver";
constexpr uintptr_t kStartProcessorMask = 1;

// The calling thread, pinned to the first processor while start runs. A
// failed start puts the mask back; a successful one hands both over to the
// stream, whose end puts them back.
class StartingThread {
 public:
  StartingThread() noexcept
      : handle_(platform::openCurrentThread()),
        previousMask_(platform::setThreadAffinity(handle_, kStartProcessorMask)) {}
  ~StartingThread() {
    if (handle_ == nullptr) return;
    if (previousMask_ != 0) platform::setThreadAffinity(handle_, previousMask_);
    platform::closeThread(handle_);
  }
  StartingThread(const StartingThread&) = delete;
  StartingThread& operator=(const StartingThread&) = delete;

  bool handOver(stream::Session& session) noexcept {
    if (!stream::startStreamThread(session, handle_, previousMask_)) return false;
    handle_ = nullptr;
    return true;
  }

 private:
  platform::ThreadHandle handle_;
  uintptr_t previousMask_;
};

// One way back from every failure after start has begun to build the
// stream: whatever the steps made is undone, unless the stream was kept.
template <typename Undo>
class UndoUnlessKept {
 public:
  explicit UndoUnlessKept(Undo undo) noexcept : undo_(undo) {}
  ~UndoUnlessKept() {
    if (!kept_) undo_();
  }
  UndoUnlessKept(const UndoUnlessKept&) = delete;
  UndoUnlessKept& operator=(const UndoUnlessKept&) = delete;

  void keep() noexcept { kept_ = true; }

 private:
  Undo undo_;
  bool kept_ = false;
};

}  // namespace

void Vantrel::releasePacketBuffer() noexcept {
  if (session.packetBuffer == nullptr) return;
  // The data transport may hold the buffer registered.
  stream::releaseDataTransport(*session.slot);
  platform::freePages(session.packetBuffer);
  session.packetBuffer = nullptr;
}

asio::AsioError Vantrel::start() noexcept {
  stream::StreamState& state = *session.slot;
  // One stream per process: a second start would replace what the running
  // stream's thread reads.
  if (session.streaming.load(std::memory_order_acquire) ||
      !state.streamStopped.load(std::memory_order_acquire)) {
    setErrorText(control::errors::kAlreadyStreaming);
    return asio::kAseNotPresent;
  }
  // A stream that ended by itself may have left its thread to wait for.
  stream::joinStreamThread(state);

  // What can be refused without the streamer is refused before anything is
  // sent to it or opened: an announced format makes the streamer wait for
  // a stream.
  if (hostCallbacks.load(std::memory_order_acquire) == nullptr) return asio::kAseNotPresent;
  // One reading of what host calls may change at any moment.
  const OutputBufferState buffers = outputBufferState();
  const double rate = buffers.sampleRate;
  const int32_t frames = buffers.bufferFrames;
  if (stream::isUnsupportedDsdGap(rate)) {
    setErrorText(control::errors::kSampleRateNotSupported);
    return asio::kAseNotPresent;
  }
  if (const char* refusal = refusalText(checkOutputBuffers(buffers))) {
    setErrorText(refusal);
    return asio::kAseNotPresent;
  }

  StartingThread startingThread;
  control::Connection& connection = *session.connection;
  if (!connection.open()) {
    if (const control::Outcome opened = control::openControlConnection(connection, streamer);
        !opened.ok()) {
      return report(opened);
    }
  }
  session.drivePath.clear();
  if (streamer.settings.driveMode != 0 && !stream::findRemovableDrive(streamer, session)) {
    notify(control::Notification::kNoRemovableDrive);
    return asio::kAseNotPresent;
  }

  // From here on a failure closes the connection, which tells the streamer,
  // and releases the packet buffer, the data transport and the mutex.
  UndoUnlessKept cleanup([this, &connection] {
    control::closeControlConnection(connection);
    releasePacketBuffer();
    platform::closeHandle(session.streamMutex);
    session.streamMutex = nullptr;
  });
  const stream::StreamLayout layout =
      stream::streamLayout({streamer.settings.wordLength, streamer.settings.sampleShift,
                            streamer.settings.transportMode, rate, frames});
  session.config = stream::streamConfig(streamer.settings, rate, frames, layout.wireBits);
  session.datagramSize = layout.datagramSize;
  session.datagramsPerBuffer = layout.datagramsPerBuffer;
  const uint32_t registerBytes = layout.packetBytes + stream::kTickSlotsBytes;

  releasePacketBuffer();
  session.packetBuffer = layout.packetBytes == 0 ? nullptr : platform::allocatePages(registerBytes);
  if (session.packetBuffer == nullptr) {
    notify(control::Notification::kSetupFailed);
    return asio::kAseNotPresent;
  }
  // The data transport, when there is one, replaces this choice.
  session.transport = &stream::kTcpTransport;
  if (streamer.settings.transportMode == control::kTransportUdp) {
    const control::Outcome opened = stream::openDataSocket(session, streamer, registerBytes);
    if (!opened.ok()) return report(opened);
  }
  if (!stream::buildDatagramSlots(session)) {
    notify(control::Notification::kSetupFailed);
    return asio::kAseNotPresent;
  }
  session.packetsSent = 0;
  session.ticksReceived = 0;
  session.ticksIgnored = 0;
  if (const control::Outcome announced = control::announceFormat(
          connection, {layout.announcedRate, layout.wireBits, layout.packetSizeNumber,
                       static_cast<int32_t>(layout.datagramSize)});
      !announced.ok()) {
    return report(announced);
  }

  // Its existence tells other processes that a stream has been started.
  platform::closeHandle(session.streamMutex);
  session.streamMutex = platform::createMutex(kStreamMutexName);
  session.callbacks.store(hostCallbacks.load());
  session.outputs[0] = outputBuffers[0];
  session.outputs[1] = outputBuffers[1];
  session.wordsPerHalf = wordsPerHalf;
  session.samplePosition.store(0.0);
  session.currentHalf = 0;
  stream::primeDataTransport(session);
  if (!startingThread.handOver(session)) {
    setErrorText(control::errors::kNoStreamThread);
    notify(control::Notification::kSetupFailed);
    return asio::kAseNotPresent;
  }
  cleanup.keep();
  platform::log::line(
      "start: rate %.0f Hz, %d frames, transport %u, %u-bit wire, packet %u bytes, %u datagrams "
      "of %u bytes",
      rate, frames, streamer.settings.transportMode, static_cast<unsigned>(layout.wireBits),
      static_cast<unsigned>(layout.packetBytes), static_cast<unsigned>(layout.datagramsPerBuffer),
      static_cast<unsigned>(layout.datagramSize));
  return asio::kAseOk;
}

}  // namespace tavro::driver
