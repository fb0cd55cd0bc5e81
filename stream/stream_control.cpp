#include "stream/stream_control.h"

#include "asio/asio.h"
#include "control/control_connection.h"
#include "driver/vantrel.h"
#include "platform/sync.h"
#include "stream/data_transport.h"

namespace tavro::stream {

StreamState& streamState() noexcept {
  static StreamState state;
  return state;
}

void endStream(driver::Vantrel& driver) noexcept {
  // An exchange, not a test and a set: the host's stop and a dying streaming
  // thread may get here at the same moment.
  if (streamState().streamStopped.exchange(true)) return;
  platform::closeHandle(driver.streamMutex);
  driver.streamMutex = nullptr;
  control::closeControlConnection();
  streamState().streamDriver.store(nullptr);
}

void releaseDataTransport() noexcept {
  closeDataTransportObjects();
  releaseDatagramSlots();
}

}  // namespace tavro::stream

namespace tavro::driver {

asio::AsioError Vantrel::start() noexcept { return asio::kAseNotPresent; }

asio::AsioError Vantrel::stop() noexcept {
  if (streaming.exchange(false)) {
    stream::releaseDataTransport();
  }
  stream::endStream(*this);
  return asio::kAseOk;
}

}  // namespace tavro::driver
