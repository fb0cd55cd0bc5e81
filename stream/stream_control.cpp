#include "stream/stream_control.h"

#include "stream/data_transport.h"

namespace tavro::stream {

void releaseDataTransport(StreamState& slot) noexcept {
  closeDataTransport(slot);
  releaseDatagramSlots(slot);
}

}  // namespace tavro::stream
