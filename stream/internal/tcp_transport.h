#pragma once
// Packets and ticks on the control connection itself.
#include "control/control_connection.h"
#include "stream/data_transport.h"

namespace tavro::stream {

class TcpTransport final : public DataTransport {
 public:
  TcpTransport(control::Connection& connection, const PacketWire& wire) noexcept
      : connection_(connection), wire_(wire) {}

  void prime() noexcept override {}
  bool sendPacket() noexcept override;
  int32_t receiveTick(void* buffer) noexcept override;
  int32_t ticksIn(int32_t received) const noexcept override;
  // The receive is on the control connection: closing that ends it.
  bool wake() noexcept override { return false; }
  // Closing the connection says it all.
  void sendStopSignal() noexcept override {}
  const char* name() const noexcept override { return "TCP"; }

 private:
  control::Connection& connection_;
  const PacketWire wire_;
};

}  // namespace tavro::stream
