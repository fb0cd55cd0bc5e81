#include "stream/stream_control.h"

#include "stream/data_transport.h"

namespace tavro::stream {

StreamState& streamState() noexcept {
  static StreamState state;
  return state;
}

void releaseDataTransport() noexcept {
  closeDataTransport();
  releaseDatagramSlots();
}

}  // namespace tavro::stream
