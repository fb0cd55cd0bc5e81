#include "stream/data_transport.h"

#include "control/control_connection.h"
#include "driver/vantrel.h"
#include "platform/net.h"
#include "stream/stream_control.h"

namespace tavro::stream {

asio::AsioError openDataSocket(driver::Vantrel& /*driver*/, uint32_t /*registerBytes*/) noexcept {
  return asio::kAseNotPresent;
}

void primeDataTransport(driver::Vantrel& /*driver*/) noexcept {}

bool sendPacket(driver::Vantrel& driver) noexcept {
  const auto* packet = static_cast<const char*>(driver.packetBuffer);
  for (int32_t i = 0; i < driver.sendsPerBuffer; ++i) {
    const platform::Socket socket = control::controlSocket().load();
    if (platform::sendBytes(socket, packet + static_cast<size_t>(i) * driver.datagramSize,
                            static_cast<int32_t>(driver.datagramSize)) == platform::kSocketError) {
      control::closeControlConnection();
      return false;
    }
  }
  return true;
}

int32_t receiveTick(driver::Vantrel& /*driver*/, void* buffer) noexcept {
  const platform::Socket socket = control::controlSocket().load();
  if (socket == platform::kInvalidSocket) return platform::kSocketError;
  return platform::receiveBytes(socket, buffer, kTickReceiveBytes);
}

void sendStopSignal(driver::Vantrel& /*driver*/) noexcept {}

void closeDataTransport(driver::Vantrel& /*driver*/) noexcept { releaseDataTransport(); }

bool buildDatagramSlots(driver::Vantrel& /*driver*/) noexcept { return true; }

void wakeTickReceive() noexcept {}

}  // namespace tavro::stream
