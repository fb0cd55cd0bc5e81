#include "control/streamer_settings.h"
#include "driver/vantrel.h"
#include "stream/data_transport.h"
#include "stream/stream_control.h"
#include "stream/stream_thread.h"

namespace tavro::driver {

asio::AsioError Vantrel::stop() noexcept {
  stream::StreamState& state = stream::streamState();
  // The stream may be another object's: only one runs per process.
  Vantrel* running = state.streamDriver.load(std::memory_order_acquire);
  Vantrel& owner = running != nullptr ? *running : *this;
  if (owner.streaming.exchange(false, std::memory_order_acq_rel) &&
      owner.settings.transportMode == control::kTransportUdp &&
      state.dataSocket.load() != platform::kInvalidSocket) {
    stream::sendStopSignal(owner);
  }
  stream::endStream(owner);
  // A stream that ended by itself left its thread for a host's thread to
  // wait for; nothing the thread uses is released before it has ended.
  stream::joinStreamThread();
  if (running != nullptr && !stream::onStreamThread()) {
    stream::closeDataTransport(owner);
    state.streamDriver.store(nullptr, std::memory_order_release);
  }
  return asio::kAseOk;
}

}  // namespace tavro::driver
