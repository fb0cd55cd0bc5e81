#include "stream/stream_control.h"

namespace tavro::stream {

StreamState& streamState() noexcept {
  static StreamState state;
  return state;
}

void releaseDataTransport() noexcept {
  const platform::Socket taken = streamState().dataSocket.exchange(platform::kInvalidSocket);
  if (taken == platform::kInvalidSocket) return;
  platform::shutdownBoth(taken);
  platform::closeSocket(taken);
}

}  // namespace tavro::stream
