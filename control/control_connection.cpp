#include "control/control_connection.h"

#include <new>

#include "control/error_texts.h"
#include "control/settings_query.h"
#include "control/streamer_host.h"
#include "control/wire_frame.h"
#include "platform/log.h"

namespace tavro::control {
namespace {

inline constexpr char kGreeting[] = "TAVROHello";
// The greeting reply's first three units are the streamer's; the address
// follows them.
inline constexpr size_t kGreetingPrefixUnits = 3;

Outcome failConnection(Connection& connection, const char* text, bool notifyUser) noexcept {
  connection.close();
  return failed(text, notifyUser ? Notification::kConnectFailed : Notification::kNone);
}

// The reply is ASCII; anything else cannot be part of an address anyway.
bool takeLocalAddress(StreamerLink& link, std::u16string_view reply) noexcept {
  try {
    std::string address;
    address.reserve(reply.size() - kGreetingPrefixUnits);
    for (char16_t unit : reply.substr(kGreetingPrefixUnits)) {
      address.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    link.localAddressText = std::move(address);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

void Connection::adopt(platform::Socket socket) noexcept {
  close();
  socket_.store(socket);
}

void Connection::close(const Ending& ending) noexcept {
  const platform::Socket taken = socket_.exchange(platform::kInvalidSocket);
  if (taken == platform::kInvalidSocket) return;
  ending.beforeShutdown();
  platform::shutdownBoth(taken);
  ending.afterShutdown(&platform::cancelBlockedReceive, taken);
  platform::closeSocket(taken);
}

void Connection::close() noexcept { close(Ending{}); }

Outcome openControlConnection(Connection& connection, StreamerLink& link) noexcept {
  platform::Ipv4Endpoint streamer{};
  if (platform::lookupNumericTcp(link.hostName.c_str(), link.portText.c_str(), &streamer) != 0) {
    return failed(errors::kCannotCreateSocket);
  }

  // A connection still held here would be lost track of, never closed.
  const platform::Socket socket = platform::openTcpSocket();
  connection.adopt(socket);
  if (socket == platform::kInvalidSocket) {
    return failConnection(connection, errors::kCannotConnectStreamer, true);
  }
  // Both only make the connection quicker; it works without them.
  platform::setNoDelay(socket);
  platform::enableLoopbackFastPath(socket);

  if (platform::connectTo(socket, streamer) != 0) {
    return failConnection(connection, errors::kCannotConnectStreamer, true);
  }
  if (!sendFrame(connection, "%s", kGreeting)) {
    return failConnection(connection, errors::kCannotSendToStreamer, true);
  }
  if (!receiveFrame(connection)) return failConnection(connection, errors::kNoResponse, false);

  // A reply too short to hold the three leading units has no address part:
  // it is as good as no reply.
  const FrameText reply(connection.frame());
  if (reply.view().size() < kGreetingPrefixUnits || !takeLocalAddress(link, reply.view())) {
    return failConnection(connection, errors::kNoResponse, false);
  }
  return kSucceeded;
}

Outcome connectStreamer(Connection& connection, StreamerLink& link) noexcept {
  // A handle left from before is closed rather than forgotten open.
  connection.close();

  const StreamerAddress address = readStreamerAddress();
  if (!address.found) return failed(address.failureText);
  try {
    link.hostName = address.host;
    link.portText = kStreamerPort;
  } catch (const std::bad_alloc&) {
    return failed(nullptr);
  }

  if (const Outcome opened = openControlConnection(connection, link); !opened.ok()) return opened;
  if (!queryStreamerSettings(connection, link.bufferSizeIndex, link.settings)) {
    connection.close();
    return failed(Notification::kSetupFailed);
  }
  const StreamerSettings& settings = link.settings;
  platform::log::line(
      "settings: transport %u, word length %u, shift %u, interface %u of %u, drive mode %u, "
      "invert %u",
      settings.transportMode, settings.wordLength, settings.sampleShift, settings.interfaceIndex,
      static_cast<unsigned>(settings.interfaces.size()), settings.driveMode,
      settings.invertPolarity);
  return kSucceeded;
}

}  // namespace tavro::control
