#include "stream/internal/tcp_transport.h"

#include "platform/net.h"

namespace tavro::stream {

bool TcpTransport::sendPacket() noexcept {
  const platform::Socket socket = connection_.socket();
  const auto* packet = static_cast<const char*>(wire_.buffer);
  const auto length = static_cast<int32_t>(wire_.datagramSize);
  for (uint32_t i = 0; i < wire_.datagramsPerBuffer; ++i) {
    if (platform::sendBytes(socket, packet + size_t{i} * wire_.datagramSize, length) ==
        platform::kSocketError) {
      return false;
    }
  }
  return true;
}

int32_t TcpTransport::receiveTick(void* buffer) noexcept {
  const platform::Socket socket = connection_.socket();
  if (socket == platform::kInvalidSocket) return platform::kSocketError;
  return platform::receiveBytes(socket, buffer, kTickReceiveBytes);
}

// The control connection is a byte stream: ticks the thread was too late to
// take one by one arrive together in one receive, and dropping them would
// leave the stream behind the streamer for good, so every two bytes count
// (an odd count is no tick, as a datagram of the wrong size is none).
int32_t TcpTransport::ticksIn(int32_t received) const noexcept {
  return received % 2 == 0 ? received / 2 : 0;
}

}  // namespace tavro::stream
