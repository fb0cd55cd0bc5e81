#include "stream/data_transport.h"

#include <new>

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "driver/vantrel.h"
#include "platform/event.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "platform/version.h"
#include "stream/ipv4_text.h"
#include "stream/rio_transport.h"
#include "stream/stream_control.h"

namespace tavro::stream {
namespace {

using control::Notification;

constexpr int32_t kPrimeBytes = 32;
constexpr int32_t kPlainStopBytes = 11;
constexpr uint32_t kStopPauseMilliseconds = 100;

DataTransportState& state() noexcept { return streamState().transport; }

platform::Socket dataSocket() noexcept { return streamState().dataSocket.load(); }

// Registered I/O is offered from Windows 8 (6.2) on; a report of 10.0 comes
// only to manifested programs, and the driver keeps to plain UDP there.
bool versionAllowsRio() noexcept {
  platform::OsVersion version;
  platform::windowsVersion(&version);
  return version.major == 6 && version.minor >= 2;
}

asio::AsioError openPlain(driver::Vantrel& driver) noexcept {
  DataTransportState& s = state();
  const platform::Socket socket = platform::openUdpSocket(false);
  if (socket == platform::kInvalidSocket) {
    driver.notify(Notification::kConnectFailed);
    return asio::kAseNotPresent;
  }
  streamState().dataSocket.store(socket);
  const platform::Ipv4Endpoint local = ipv4Endpoint(driver.streamer.localAddressText, "0");
  if (platform::bindTo(socket, local) != 0) {
    driver.setErrorText(control::errors::kCannotConnectData);
    driver.notify(Notification::kConnectFailed);
    closeDataTransport();
    return asio::kAseNotPresent;
  }
  s.hasBoundEndpoint = platform::boundEndpoint(socket, &s.boundEndpoint) == 0;
  return asio::kAseOk;
}

}  // namespace

asio::AsioError openDataSocket(driver::Vantrel& driver, uint32_t registerBytes) noexcept {
  // A start that failed, or a stream never stopped, must not leave its
  // socket and queues behind to be overwritten here.
  closeDataTransport();
  DataTransportState& s = state();
  s.closing.store(false);
  if (driver.packetBuffer == nullptr || driver.datagramSize == 0) {
    driver.notify(Notification::kConnectFailed);
    return asio::kAseNotPresent;
  }

  asio::AsioError result = asio::kAseOk;
  bool registered = false;
  if (versionAllowsRio()) {
    switch (rio::open(driver, registerBytes)) {
      case rio::OpenResult::kOpened:
        registered = true;
        break;
      case rio::OpenResult::kFailed:
        return asio::kAseNotPresent;
      case rio::OpenResult::kUnavailable:
        // The streamer takes plain UDP's priming and stop as well.
        break;
    }
  }
  if (!registered) result = openPlain(driver);
  if (result != asio::kAseOk) return result;
  s.useRio.store(registered);
  driver.destination = ipv4Endpoint(driver.streamer.hostName, driver.streamer.portText);
  return asio::kAseOk;
}

bool buildDatagramSlots(driver::Vantrel& driver) noexcept {
  releaseDatagramSlots();
  const size_t count = driver.datagramsPerBuffer;
  if (count == 0 || driver.datagramSize == 0) return false;
  std::unique_ptr<platform::RioBuf[]> slots(new (std::nothrow) platform::RioBuf[count]);
  if (!slots) return false;
  DataTransportState& s = state();
  for (size_t i = 0; i < count; ++i) {
    slots[i] = {s.packetBufferId, static_cast<uint32_t>(i) * driver.datagramSize,
                driver.datagramSize};
  }
  s.datagramSlots = std::move(slots);
  s.datagramSlotCount = count;
  return true;
}

void releaseDatagramSlots() noexcept {
  DataTransportState& s = state();
  s.datagramSlots.reset();
  s.datagramSlotCount = 0;
}

void primeDataTransport(driver::Vantrel& driver) noexcept {
  if (state().useRio.load()) {
    rio::prime(driver);
    return;
  }
  const platform::Socket socket = dataSocket();
  if (socket == platform::kInvalidSocket || driver.packetBuffer == nullptr) return;
  platform::sendDatagram(socket, driver.packetBuffer, kPrimeBytes, driver.destination);
}

bool sendPacket(driver::Vantrel& driver) noexcept {
  const bool udp = driver.streamConfig.transportMode == control::kTransportUdp;
  if (udp && state().useRio.load(std::memory_order_relaxed) &&
      dataSocket() != platform::kInvalidSocket) {
    return rio::sendPacket(driver);
  }
  const auto* packet = static_cast<const char*>(driver.packetBuffer);
  for (int32_t i = 0; i < driver.sendsPerBuffer; ++i) {
    const char* piece = packet + static_cast<size_t>(i) * driver.datagramSize;
    const int32_t length = static_cast<int32_t>(driver.datagramSize);
    const int32_t sent =
        udp ? platform::sendDatagram(dataSocket(), piece, length, driver.destination)
            : platform::sendBytes(control::controlSocket().load(), piece, length);
    if (sent == platform::kSocketError) {
      control::closeControlConnection();
      return false;
    }
  }
  return true;
}

int32_t receiveTick(driver::Vantrel& driver, void* buffer) noexcept {
  if (driver.streamConfig.transportMode == control::kTransportUdp) {
    if (state().useRio.load(std::memory_order_relaxed)) return rio::waitForTick();
    if (state().closing.load(std::memory_order_acquire)) return 0;
    const platform::Socket socket = dataSocket();
    if (socket == platform::kInvalidSocket) return platform::kSocketError;
    return platform::receiveDatagram(socket, buffer, kTickReceiveBytes);
  }
  const platform::Socket socket = control::controlSocket().load();
  if (socket == platform::kInvalidSocket) return platform::kSocketError;
  return platform::receiveBytes(socket, buffer, kTickReceiveBytes);
}

void wakeTickReceive() noexcept {
  DataTransportState& s = state();
  s.closing.store(true, std::memory_order_release);
  const platform::KernelHandle event = s.rioEvent.load(std::memory_order_acquire);
  if (event != nullptr) platform::setEvent(event);
  const platform::Socket socket = dataSocket();
  if (!s.useRio.load() && s.hasBoundEndpoint && socket != platform::kInvalidSocket) {
    // An empty datagram is a receive of 0 bytes: the end of the stream.
    const char none = 0;
    platform::sendDatagram(socket, &none, 0, s.boundEndpoint);
  }
}

void sendStopSignal(driver::Vantrel& driver) noexcept {
  const platform::Socket socket = dataSocket();
  if (socket == platform::kInvalidSocket) return;
  if (state().useRio.load()) {
    rio::sendStopSignal();
  } else if (driver.packetBuffer != nullptr) {
    platform::sendDatagram(socket, driver.packetBuffer, kPlainStopBytes, driver.destination);
  }
  platform::sleepMilliseconds(kStopPauseMilliseconds);
}

void sendStopSignalIfOpen(driver::Vantrel& driver) noexcept {
  if (driver.streamConfig.transportMode == control::kTransportUdp &&
      dataSocket() != platform::kInvalidSocket) {
    sendStopSignal(driver);
  }
}

void closeDataTransport() noexcept {
  // The socket first: it ends the request queue and whatever it still had
  // posted, before the queues and the registration go.
  const platform::Socket taken = streamState().dataSocket.exchange(platform::kInvalidSocket);
  if (taken != platform::kInvalidSocket) {
    platform::shutdownBoth(taken);
    platform::closeSocket(taken);
  }
  rio::release();
  DataTransportState& s = state();
  s.useRio.store(false);
  s.hasBoundEndpoint = false;
}

}  // namespace tavro::stream
