#include "stream/data_transport.h"

#include <new>

#include "platform/version.h"
#include "stream/internal/rio_transport.h"
#include "stream/internal/tcp_transport.h"
#include "stream/internal/udp_transport.h"

namespace tavro::stream {
namespace {

using control::Notification;

// Registered I/O is offered from Windows 8 (6.2) on; a report of 10.0 comes
// only to manifested programs, and the driver keeps to plain UDP there.
bool versionAllowsRio() noexcept {
  platform::OsVersion version;
  platform::windowsVersion(&version);
  return version.major == 6 && version.minor >= 2;
}

std::unique_ptr<DataTransport> openUdp(const control::StreamerLink& link, const PacketWire& wire,
                                       control::Outcome& failure) noexcept {
  if (versionAllowsRio()) {
    std::unique_ptr<RioTransport> rio(new (std::nothrow) RioTransport(wire));
    if (!rio) {
      failure = control::failed(Notification::kSetupFailed);
      return nullptr;
    }
    switch (rio->open(link, failure)) {
      case RioTransport::Opened::kOpened:
        return rio;
      case RioTransport::Opened::kFailed:
        return nullptr;
      case RioTransport::Opened::kUnavailable:
        // The streamer takes plain UDP's priming and stop as well.
        break;
    }
  }
  std::unique_ptr<PlainUdpTransport> plain(new (std::nothrow) PlainUdpTransport(wire));
  if (!plain) {
    failure = control::failed(Notification::kSetupFailed);
    return nullptr;
  }
  failure = plain->open(link);
  if (!failure.ok()) return nullptr;
  return plain;
}

}  // namespace

std::unique_ptr<DataTransport> openDataTransport(control::Connection& connection,
                                                 const control::StreamerLink& link,
                                                 const PacketWire& wire,
                                                 control::Outcome& failure) noexcept {
  failure = control::kSucceeded;
  if (wire.buffer == nullptr || wire.datagramSize == 0 || wire.datagramsPerBuffer == 0) {
    failure = link.settings.transportMode == control::kTransportUdp
                  ? control::failed(Notification::kConnectFailed)
                  : control::failed(Notification::kSetupFailed);
    return nullptr;
  }
  if (link.settings.transportMode == control::kTransportUdp) return openUdp(link, wire, failure);
  std::unique_ptr<DataTransport> tcp(new (std::nothrow) TcpTransport(connection, wire));
  if (!tcp) failure = control::failed(Notification::kSetupFailed);
  return tcp;
}

}  // namespace tavro::stream
