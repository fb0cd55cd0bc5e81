#include <mutex>

#include "driver/process.h"
#include "driver/vantrel.h"
#include "stream/data_transport.h"
#include "stream/stream_control.h"
#include "stream/stream_thread.h"

namespace tavro::driver {

asio::AsioError Vantrel::stop() noexcept {
  // Host threads stop one at a time: a second stop arriving while the first
  // still sends the stop datagram or waits for the streaming thread would
  // close the data transport under it. The streaming thread (a host stopping
  // from its buffer switch) never waits here: the host's stop may be joining it.
  std::unique_lock<std::mutex> hold(process().stopping, std::defer_lock);
  if (!stream::onStreamThread()) hold.lock();
  stream::StreamState& state = *session.slot;
  // The stream may be another object's: only one runs per process.
  stream::Session* running = state.running.load(std::memory_order_acquire);
  stream::Session& owner = running != nullptr ? *running : session;
  const bool wasStreaming = owner.streaming.exchange(false, std::memory_order_acq_rel);
  if (!stream::endStream(owner, wasStreaming)) {
    // The stream ended by itself, or never began: its thread, if any, is
    // waited for before the stop datagram and before anything is released.
    stream::joinStreamThread(state);
    if (wasStreaming) stream::sendStopSignalIfOpen(owner);
  }
  if (running != nullptr && !stream::onStreamThread()) {
    stream::closeDataTransport(state);
    state.running.store(nullptr, std::memory_order_release);
  }
  return asio::kAseOk;
}

}  // namespace tavro::driver
