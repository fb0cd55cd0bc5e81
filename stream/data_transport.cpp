#include "stream/data_transport.h"

#include <new>

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "platform/event.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "platform/version.h"
#include "stream/ipv4_text.h"
#include "stream/rio_transport.h"
#include "stream/session.h"
#include "stream/stream_control.h"

namespace tavro::stream {
namespace {

using control::Notification;

constexpr int32_t kPrimeBytes = 32;
constexpr int32_t kPlainStopBytes = 11;
constexpr uint32_t kStopPauseMilliseconds = 100;

platform::Socket dataSocket(const StreamState& slot) noexcept { return slot.dataSocket.load(); }

// Registered I/O is offered from Windows 8 (6.2) on; a report of 10.0 comes
// only to manifested programs, and the driver keeps to plain UDP there.
bool versionAllowsRio() noexcept {
  platform::OsVersion version;
  platform::windowsVersion(&version);
  return version.major == 6 && version.minor >= 2;
}

control::Outcome openPlain(StreamState& slot, const control::StreamerLink& link) noexcept {
  DataTransportState& s = slot.transport;
  const platform::Socket socket = platform::openUdpSocket(false);
  if (socket == platform::kInvalidSocket) return control::failed(Notification::kConnectFailed);
  slot.dataSocket.store(socket);
  const platform::Ipv4Endpoint local = ipv4Endpoint(link.localAddressText, "0");
  if (platform::bindTo(socket, local) != 0) {
    closeDataTransport(slot);
    return control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed);
  }
  s.hasBoundEndpoint = platform::boundEndpoint(socket, &s.boundEndpoint) == 0;
  return control::kSucceeded;
}

// The packet in datagramSize pieces, each by `sendPiece`; a failed piece
// closes the control connection, which ends the stream.
template <typename SendPiece>
bool sendInPieces(Session& session, SendPiece sendPiece) noexcept {
  const auto* packet = static_cast<const char*>(session.packetBuffer);
  const auto length = static_cast<int32_t>(session.datagramSize);
  for (size_t i = 0; i < session.datagramsPerBuffer; ++i) {
    if (sendPiece(packet + i * session.datagramSize, length) == platform::kSocketError) {
      control::closeControlConnection(*session.connection);
      return false;
    }
  }
  return true;
}

// The control connection carries the packets and the ticks.
bool sendOnControlConnection(Session& session) noexcept {
  const platform::Socket socket = session.connection->socket.load();
  return sendInPieces(session, [socket](const char* piece, int32_t length) {
    return platform::sendBytes(socket, piece, length);
  });
}

int32_t receiveOnControlConnection(Session& session, void* buffer) noexcept {
  const platform::Socket socket = session.connection->socket.load();
  if (socket == platform::kInvalidSocket) return platform::kSocketError;
  return platform::receiveBytes(socket, buffer, kTickReceiveBytes);
}

// TCP needs no priming and no stop datagram: closing the connection says it.
void nothingToSend(Session& /*session*/) noexcept {}

void primePlain(Session& session) noexcept {
  const platform::Socket socket = dataSocket(*session.slot);
  if (socket == platform::kInvalidSocket || session.packetBuffer == nullptr) return;
  platform::sendDatagram(socket, session.packetBuffer, kPrimeBytes, session.destination);
}

bool sendPlainDatagrams(Session& session) noexcept {
  const platform::Socket socket = dataSocket(*session.slot);
  return sendInPieces(session, [socket, &session](const char* piece, int32_t length) {
    return platform::sendDatagram(socket, piece, length, session.destination);
  });
}

int32_t receivePlainDatagram(Session& session, void* buffer) noexcept {
  if (session.slot->transport.closing.load(std::memory_order_acquire)) return 0;
  const platform::Socket socket = dataSocket(*session.slot);
  if (socket == platform::kInvalidSocket) return platform::kSocketError;
  return platform::receiveDatagram(socket, buffer, kTickReceiveBytes);
}

void sendPlainStop(Session& session) noexcept {
  if (session.packetBuffer == nullptr) return;
  platform::sendDatagram(dataSocket(*session.slot), session.packetBuffer, kPlainStopBytes,
                         session.destination);
}

// A Registered I/O stream whose data socket a failed send has closed sends
// the way plain UDP does, which fails and ends the stream.
bool sendRegistered(Session& session) noexcept {
  if (dataSocket(*session.slot) == platform::kInvalidSocket) return sendPlainDatagrams(session);
  return rio::sendPacket(session);
}

int32_t receiveRegistered(Session& session, void* /*buffer*/) noexcept {
  return rio::waitForTick(*session.slot);
}

void sendRegisteredStop(Session& session) noexcept { rio::sendStopSignal(*session.slot); }

}  // namespace

const Transport kTcpTransport{false, &nothingToSend, &sendOnControlConnection,
                              &receiveOnControlConnection, &nothingToSend};
const Transport kPlainUdpTransport{true, &primePlain, &sendPlainDatagrams, &receivePlainDatagram,
                                   &sendPlainStop};
const Transport kRioTransport{true, &rio::prime, &sendRegistered, &receiveRegistered,
                              &sendRegisteredStop};

control::Outcome openDataSocket(Session& session, const control::StreamerLink& link,
                                uint32_t registerBytes) noexcept {
  // A start that failed, or a stream never stopped, must not leave its
  // socket and queues behind to be overwritten here.
  closeDataTransport(*session.slot);
  DataTransportState& s = session.slot->transport;
  s.closing.store(false);
  if (session.packetBuffer == nullptr || session.datagramSize == 0) {
    return control::failed(Notification::kConnectFailed);
  }

  bool registered = false;
  if (versionAllowsRio()) {
    control::Outcome failure;
    switch (rio::open(session, link, registerBytes, failure)) {
      case rio::OpenResult::kOpened:
        registered = true;
        break;
      case rio::OpenResult::kFailed:
        return failure;
      case rio::OpenResult::kUnavailable:
        // The streamer takes plain UDP's priming and stop as well.
        break;
    }
  }
  if (!registered) {
    if (const control::Outcome opened = openPlain(*session.slot, link); !opened.ok()) return opened;
  }
  s.useRio.store(registered);
  session.transport = registered ? &kRioTransport : &kPlainUdpTransport;
  session.destination = ipv4Endpoint(link.hostName, link.portText);
  return control::kSucceeded;
}

bool buildDatagramSlots(Session& session) noexcept {
  releaseDatagramSlots(*session.slot);
  const size_t count = session.datagramsPerBuffer;
  if (count == 0 || session.datagramSize == 0) return false;
  std::unique_ptr<platform::RioBuf[]> slots(new (std::nothrow) platform::RioBuf[count]);
  if (!slots) return false;
  DataTransportState& s = session.slot->transport;
  for (size_t i = 0; i < count; ++i) {
    slots[i] = {s.packetBufferId, static_cast<uint32_t>(i) * session.datagramSize,
                session.datagramSize};
  }
  s.datagramSlots = std::move(slots);
  s.datagramSlotCount = count;
  return true;
}

void releaseDatagramSlots(StreamState& slot) noexcept {
  DataTransportState& s = slot.transport;
  s.datagramSlots.reset();
  s.datagramSlotCount = 0;
}

void primeDataTransport(Session& session) noexcept { session.transport->prime(session); }

bool sendPacket(Session& session) noexcept { return session.transport->sendPacket(session); }

int32_t receiveTick(Session& session, void* buffer) noexcept {
  return session.transport->receiveTick(session, buffer);
}

void wakeTickReceive(StreamState& slot) noexcept {
  DataTransportState& s = slot.transport;
  s.closing.store(true, std::memory_order_release);
  const platform::KernelHandle event = s.rioEvent.load(std::memory_order_acquire);
  if (event != nullptr) platform::setEvent(event);
  const platform::Socket socket = dataSocket(slot);
  if (!s.useRio.load() && s.hasBoundEndpoint && socket != platform::kInvalidSocket) {
    // An empty datagram is a receive of 0 bytes: the end of the stream.
    const char none = 0;
    platform::sendDatagram(socket, &none, 0, s.boundEndpoint);
  }
}

void sendStopSignal(Session& session) noexcept {
  if (dataSocket(*session.slot) == platform::kInvalidSocket) return;
  session.transport->sendStopSignal(session);
  platform::sleepMilliseconds(kStopPauseMilliseconds);
}

void sendStopSignalIfOpen(Session& session) noexcept {
  if (session.transport->overDatagrams) sendStopSignal(session);
}

void closeDataTransport(StreamState& slot) noexcept {
  // The socket first: it ends the request queue and whatever it still had
  // posted, before the queues and the registration go.
  const platform::Socket taken = slot.dataSocket.exchange(platform::kInvalidSocket);
  if (taken != platform::kInvalidSocket) {
    platform::shutdownBoth(taken);
    platform::closeSocket(taken);
  }
  rio::release(slot);
  DataTransportState& s = slot.transport;
  s.useRio.store(false);
  s.hasBoundEndpoint = false;
}

}  // namespace tavro::stream
