#pragma once
// The running state of the driver's chain: what start makes for one stream
// and what its end releases. It owns the packet buffer, the transport, the
// streaming thread and the stream mutex; the thread is joined before the
// rest goes, the transport before the buffer it may hold registered.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "driver/starting_thread.h"
#include "platform/memory.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "stream/data_transport.h"
#include "stream/host_buffers.h"
#include "stream/session.h"
#include "stream/stream_state.h"

namespace tavro::driver {

// True on a streaming thread itself.
bool onStreamThread() noexcept;

// Host threads stop and release streams one at a time: a second stop
// arriving while the first still sends the stop datagram or waits for the
// streaming thread would release what the first still uses. The streaming
// thread (a host stopping from its buffer switch) never waits here: the
// host's stop may be joining it.
std::unique_lock<std::mutex> takeStopTurn() noexcept;

class RunningStream {
 public:
  // What start has fixed for the stream. All of it outlives the stream.
  struct Plan {
    const control::StreamerLink& streamer;
    const stream::HostBuffers& host;
    stream::StreamState& state;
    std::atomic<double>& samplePosition;
    const std::string& drivePath;
    double sampleRate;
    int32_t bufferFrames;
  };

  // Builds the stream and starts its thread, or says why not. A failure
  // leaves nothing of it: the control connection is closed, which tells the
  // streamer, and whatever was made is released.
  static control::Outcome start(const Plan& plan, StartingThread& startingThread,
                                std::unique_ptr<RunningStream>& started) noexcept;

  // Waits for the thread, which must have been wound up (stop), and
  // releases the rest. Never on the streaming thread itself.
  ~RunningStream();
  RunningStream(const RunningStream&) = delete;
  RunningStream& operator=(const RunningStream&) = delete;

  // A host's stop, from any thread and any driver object: no more ticks,
  // the stream wound up once, and UDP's stop datagram.
  void stop() noexcept;
  // Until it has been wound up.
  bool runs() const noexcept { return started_ && !state_.ended(); }
  // A failed init: the stream is wound up without a stop datagram.
  void end() noexcept { windUp(stream::EndReason::kStopped, false); }

 private:
  explicit RunningStream(stream::StreamState& state) noexcept : state_(state) {}

  bool startThread(StartingThread& startingThread) noexcept;
  static uint32_t threadMain(void* argument);
  // The streaming thread hands over why its loop ended.
  void streamEnded(stream::EndReason reason) noexcept;
  // Runs once per stream, whichever thread gets there first: puts back the
  // priority, closes the stream mutex and the control connection. On a
  // host's thread the streaming thread leaves its receive first and is
  // waited for; in UDP mode, with `sendStopSignalFirst`, the stop datagram
  // goes out in between. False when the stream had already been wound up.
  bool windUp(stream::EndReason reason, bool sendStopSignalFirst) noexcept;
  void joinThread() noexcept;
  // A drive-mode streamer that has hardly begun needs a moment before the
  // connection goes.
  void settleDriveMode() const noexcept;
  void letSendUnderWayFinish() const noexcept;

  class ThreadEnding;
  class HostEnding;

  stream::StreamState& state_;
  // Its existence tells other processes that a stream has been started.
  platform::KernelHandle streamMutex_ = nullptr;
  platform::Pages packet_;
  std::unique_ptr<stream::DataTransport> transport_;
  std::optional<stream::Session> session_;
  uint32_t priorityClass_ = platform::kNormalPriorityClass;
  bool started_ = false;
  StartingThread hostThread_;
  platform::ThreadHandle thread_ = nullptr;
};

}  // namespace tavro::driver
