#include "control/control_connection.h"

#include "driver/vantrel.h"

namespace tavro::control {

std::atomic<platform::Socket>& controlSocket() noexcept {
  static std::atomic<platform::Socket> socket{platform::kInvalidSocket};
  return socket;
}

void closeControlConnection() noexcept {
  const platform::Socket taken = controlSocket().exchange(platform::kInvalidSocket);
  if (taken == platform::kInvalidSocket) return;
  platform::shutdownBoth(taken);
  platform::closeSocket(taken);
}

bool connectStreamer(driver::Vantrel& /*driver*/) noexcept {
  // The settings and connection steps arrive with the control protocol.
  closeControlConnection();
  return false;
}

}  // namespace tavro::control
