#pragma once
// Packets and ticks as plain UDP datagrams on a data socket of their own.
#include <atomic>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "platform/net.h"
#include "stream/data_transport.h"
#include "stream/internal/datagram_socket.h"

namespace tavro::stream {

class PlainUdpTransport final : public DataTransport {
 public:
  explicit PlainUdpTransport(const PacketWire& wire) noexcept : wire_(wire), socket_(false) {}

  // Binds the data socket to this PC's address as the streamer sees it.
  control::Outcome open(const control::StreamerLink& link) noexcept;

  void prime() noexcept override;
  bool sendPacket() noexcept override;
  int32_t receiveTick(void* buffer) noexcept override;
  int32_t ticksIn(int32_t received) const noexcept override { return received == 2 ? 1 : 0; }
  bool wake() noexcept override;
  void sendStopSignal() noexcept override;
  const char* name() const noexcept override { return "UDP"; }

 private:
  const PacketWire wire_;
  DatagramSocket socket_;
  platform::Ipv4Endpoint destination_{};
  // Where the data socket is bound, so that a datagram to itself can wake a
  // receive that waits without limit.
  platform::Ipv4Endpoint boundEndpoint_{};
  bool hasBoundEndpoint_ = false;
  // Set once stop begins: a tick receive reports the end of the stream.
  std::atomic<bool> closing_{false};
};

// Sends the packet in datagramSize pieces to `destination`.
bool sendDatagrams(platform::Socket socket, const PacketWire& wire,
                   const platform::Ipv4Endpoint& destination) noexcept;

}  // namespace tavro::stream
