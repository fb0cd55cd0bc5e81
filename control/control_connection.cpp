#include "control/control_connection.h"

#include <new>

#include "control/settings_query.h"
#include "control/streamer_host.h"
#include "control/wire_frame.h"
#include "driver/driver_log.h"
#include "driver/error_texts.h"
#include "driver/vantrel.h"

namespace tavro::control {
namespace {

using driver::Notification;
namespace errors = driver::errors;

inline constexpr char kGreeting[] = "TAVROHello";
// The greeting reply's first three units are the streamer's; the address
// follows them.
inline constexpr size_t kGreetingPrefixUnits = 3;

asio::AsioError failConnection(driver::Vantrel& driver, const char* text,
                               bool notifyUser) noexcept {
  driver.setErrorText(text);
  if (notifyUser) driver.notify(Notification::kConnectFailed);
  closeControlConnection();
  return asio::kAseNotPresent;
}

// The reply is ASCII; anything else cannot be part of an address anyway.
bool takeLocalAddress(driver::Vantrel& driver, std::u16string_view reply) noexcept {
  try {
    std::string address;
    address.reserve(reply.size() - kGreetingPrefixUnits);
    for (char16_t unit : reply.substr(kGreetingPrefixUnits)) {
      address.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    driver.localAddressText = std::move(address);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

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

asio::AsioError openControlConnection(driver::Vantrel& driver) noexcept {
  platform::Ipv4Endpoint streamer{};
  if (platform::lookupNumericTcp(driver.hostName.c_str(), driver.portText.c_str(), &streamer) !=
      0) {
    driver.setErrorText(errors::kCannotCreateSocket);
    return asio::kAseNotPresent;
  }

  // A connection still held here would be lost track of, never closed.
  closeControlConnection();
  const platform::Socket socket = platform::openTcpSocket();
  controlSocket().store(socket);
  if (socket == platform::kInvalidSocket) {
    return failConnection(driver, errors::kCannotConnectStreamer, true);
  }
  // Both only make the connection quicker; it works without them.
  platform::setNoDelay(socket);
  platform::enableLoopbackFastPath(socket);

  if (platform::connectTo(socket, streamer) != 0) {
    return failConnection(driver, errors::kCannotConnectStreamer, true);
  }
  if (!sendFrame("%s", kGreeting)) {
    return failConnection(driver, errors::kCannotSendToStreamer, true);
  }
  if (!receiveFrame()) return failConnection(driver, errors::kNoResponse, false);

  // A reply too short to hold the three leading units has no address part:
  // it is as good as no reply.
  const FrameText reply(frameBuffer());
  if (reply.view().size() < kGreetingPrefixUnits || !takeLocalAddress(driver, reply.view())) {
    return failConnection(driver, errors::kNoResponse, false);
  }
  return asio::kAseOk;
}

bool connectStreamer(driver::Vantrel& driver) noexcept {
  // A handle left from before is closed rather than forgotten open.
  closeControlConnection();

  const StreamerAddress address = readStreamerAddress(driver);
  if (!address.found) return false;
  try {
    driver.hostName = address.host;
    driver.portText = kStreamerPort;
  } catch (const std::bad_alloc&) {
    return false;
  }

  if (openControlConnection(driver) != asio::kAseOk) return false;
  if (!queryStreamerSettings(driver)) {
    closeControlConnection();
    driver.notify(Notification::kSetupFailed);
    return false;
  }
  const StreamerSettings& settings = driver.settings;
  driver::log::line(
      "settings: transport %u, word length %u, shift %u, interface %u of %u, drive mode %u, "
      "invert %u",
      settings.transportMode, settings.wordLength, settings.sampleShift, settings.interfaceIndex,
      static_cast<unsigned>(settings.interfaces.size()), settings.driveMode,
      settings.invertPolarity);
  return true;
}

}  // namespace tavro::control
