#include "stream/internal/udp_transport.h"

#include "control/error_texts.h"
#include "platform/thread.h"
#include "stream/ipv4_text.h"

namespace tavro::stream {
namespace {

using control::Notification;

constexpr int32_t kPrimeBytes = 32;
constexpr int32_t kPlainStopBytes = 11;
constexpr uint32_t kStopPauseMilliseconds = 100;

}  // namespace

bool sendDatagrams(platform::Socket socket, const PacketWire& wire,
                   const platform::Ipv4Endpoint& destination) noexcept {
  const auto* packet = static_cast<const char*>(wire.buffer);
  const auto length = static_cast<int32_t>(wire.datagramSize);
  for (uint32_t i = 0; i < wire.datagramsPerBuffer; ++i) {
    if (platform::sendDatagram(socket, packet + size_t{i} * wire.datagramSize, length,
                               destination) == platform::kSocketError) {
      return false;
    }
  }
  return true;
}

control::Outcome PlainUdpTransport::open(const control::StreamerLink& link) noexcept {
  if (!socket_.valid()) return control::failed(Notification::kConnectFailed);
  const platform::Ipv4Endpoint local = ipv4Endpoint(link.localAddressText, "0");
  if (platform::bindTo(socket_.get(), local) != 0) {
    return control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed);
  }
  hasBoundEndpoint_ = platform::boundEndpoint(socket_.get(), &boundEndpoint_) == 0;
  destination_ = ipv4Endpoint(link.hostName, link.portText);
  return control::kSucceeded;
}

void PlainUdpTransport::prime() noexcept {
  platform::sendDatagram(socket_.get(), wire_.buffer, kPrimeBytes, destination_);
}

bool PlainUdpTransport::sendPacket() noexcept {
  return sendDatagrams(socket_.get(), wire_, destination_);
}

int32_t PlainUdpTransport::receiveTick(void* buffer) noexcept {
  if (closing_.load(std::memory_order_acquire)) return 0;
  return platform::receiveDatagram(socket_.get(), buffer, kTickReceiveBytes);
}

bool PlainUdpTransport::wake() noexcept {
  closing_.store(true, std::memory_order_release);
  if (hasBoundEndpoint_) {
    // An empty datagram is a receive of 0 bytes: the end of the stream.
    const char none = 0;
    platform::sendDatagram(socket_.get(), &none, 0, boundEndpoint_);
  }
  return true;
}

void PlainUdpTransport::sendStopSignal() noexcept {
  platform::sendDatagram(socket_.get(), wire_.buffer, kPlainStopBytes, destination_);
  platform::sleepMilliseconds(kStopPauseMilliseconds);
}

}  // namespace tavro::stream
