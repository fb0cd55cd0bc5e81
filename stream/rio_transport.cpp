#include "stream/rio_transport.h"

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "platform/event.h"
#include "platform/rio.h"
#include "platform/thread.h"
#include "stream/data_transport.h"
#include "stream/session.h"
#include "stream/stream_control.h"

namespace tavro::stream::rio {
namespace {

using control::Notification;
using platform::RioBuf;
using platform::RioResult;

constexpr uint32_t kTickWaitMilliseconds = 1000;
constexpr uint32_t kReceiveQueueSize = 2;
// Start waits this long, 1 ms at a time, for the priming datagram to leave,
// and stop as long for room to post its last one.
constexpr int kPatientPolls = 1000;
constexpr int kStopPolls = 100;

OpenResult fail(StreamState& slot, control::Outcome& failure, control::Outcome outcome) noexcept {
  failure = outcome;
  closeDataTransport(slot);
  return OpenResult::kFailed;
}

enum class PacketResult { kSent, kFailed, kStopping };

PacketResult postPacket(Session& session) noexcept {
  DataTransportState& s = session.slot->transport;
  RioBuf* slots = s.datagramSlots.get();
  const size_t count = session.datagramsPerBuffer;
  if (slots == nullptr || count == 0 || count > s.datagramSlotCount) return PacketResult::kFailed;

  // The first packet fills the send queue at once. A slice that did not go
  // out would leave a later packet waiting for a completion that never
  // comes, so these posts are checked too.
  if (session.packetsSent == 0) {
    for (size_t i = 0; i < count; ++i) {
      if (!platform::rioSend(s.rioTable, s.requestQueue, &slots[i], platform::kRioMsgDontNotify,
                             &slots[i])) {
        return PacketResult::kFailed;
      }
    }
    return PacketResult::kSent;
  }

  // Later packets post each slice again once its previous send has
  // completed, so no more than one packet's sends are ever outstanding. The
  // poll spins (the thread is time-critical and the completions are due)
  // but gives up on a broken queue or once stop has begun.
  RioResult result{};
  size_t posted = 0;
  while (posted < count) {
    const uint32_t taken = platform::rioDequeue(s.rioTable, s.sendCompletionQueue, &result, 1);
    if (taken == platform::kRioCorruptCq) return PacketResult::kFailed;
    if (taken == 0) {
      if (s.closing.load(std::memory_order_acquire)) return PacketResult::kStopping;
      continue;
    }
    auto* slice = reinterpret_cast<RioBuf*>(static_cast<uintptr_t>(result.requestContext));
    if (slice < slots || slice >= slots + s.datagramSlotCount) continue;
    if (!platform::rioSend(s.rioTable, s.requestQueue, slice, platform::kRioMsgDontNotify, slice)) {
      return PacketResult::kFailed;
    }
    ++posted;
  }
  return PacketResult::kSent;
}

}  // namespace

OpenResult open(Session& session, const control::StreamerLink& link, uint32_t registerBytes,
                control::Outcome& failure) noexcept {
  DataTransportState& s = session.slot->transport;
  const platform::Socket socket = platform::openUdpSocket(true);
  if (socket == platform::kInvalidSocket) {
    failure = control::failed(Notification::kConnectFailed);
    return OpenResult::kFailed;
  }
  session.slot->dataSocket.store(socket);

  if (!platform::rioLoadTable(socket, &s.rioTable)) {
    closeDataTransport(*session.slot);
    return OpenResult::kUnavailable;
  }
  s.packetBufferId = platform::rioRegisterBuffer(s.rioTable, session.packetBuffer, registerBytes);
  if (s.packetBufferId == platform::kRioInvalidBufferId) {
    closeDataTransport(*session.slot);
    return OpenResult::kUnavailable;
  }

  session.rioSlots = registerBytes / session.datagramSize;
  s.sendCompletionQueue = platform::rioCreateCompletionQueue(s.rioTable, session.rioSlots, nullptr);
  const platform::KernelHandle event = platform::createEvent();
  s.rioEvent.store(event);
  if (event != nullptr) {
    s.receiveCompletionQueue =
        platform::rioCreateCompletionQueue(s.rioTable, kReceiveQueueSize, event);
  }
  if (s.sendCompletionQueue == platform::kRioInvalidCq ||
      s.receiveCompletionQueue == platform::kRioInvalidCq) {
    return fail(*session.slot, failure,
                control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed));
  }
  platform::rioNotify(s.rioTable, s.receiveCompletionQueue);

  s.requestQueue =
      platform::rioCreateRequestQueue(s.rioTable, socket, kReceiveQueueSize, session.rioSlots,
                                      s.receiveCompletionQueue, s.sendCompletionQueue, nullptr);
  if (s.requestQueue == platform::kRioInvalidRq) {
    return fail(
        *session.slot, failure,
        control::failed(control::errors::kCannotConnectData, Notification::kRequestQueueFailed));
  }

  platform::Ipv4Endpoint streamer{};
  if (platform::lookupNumericUdp(link.hostName.c_str(), link.portText.c_str(), &streamer) != 0) {
    return fail(*session.slot, failure, control::failed(control::errors::kCannotCreateSocket));
  }
  if (platform::connectTo(socket, streamer) != 0) {
    return fail(*session.slot, failure,
                control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed));
  }
  s.sender.store(RioSender::kIdle);
  return OpenResult::kOpened;
}

void prime(Session& session) noexcept {
  DataTransportState& s = session.slot->transport;
  RioBuf* slots = s.datagramSlots.get();
  if (slots != nullptr && s.datagramSlotCount > 0) {
    platform::rioSend(s.rioTable, s.requestQueue, &slots[0], platform::kRioMsgDontNotify,
                      &slots[0]);
    RioResult result{};
    for (int poll = 0; poll < kPatientPolls; ++poll) {
      if (platform::rioDequeue(s.rioTable, s.sendCompletionQueue, &result, 1) != 0) break;
      platform::sleepMilliseconds(1);
    }
  }
  const uint32_t packetBytes =
      session.datagramSize * static_cast<uint32_t>(session.datagramsPerBuffer);
  s.tickSlots[0] = {s.packetBufferId, packetBytes, kTickSlotBytes};
  s.tickSlots[1] = {s.packetBufferId, packetBytes + kTickSlotBytes, kTickSlotBytes};
  s.stopSlice = {s.packetBufferId, packetBytes, 1};
  for (RioBuf& slot : s.tickSlots) {
    platform::rioReceive(s.rioTable, s.requestQueue, &slot, 0, &slot);
  }
}

bool sendPacket(Session& session) noexcept {
  DataTransportState& s = session.slot->transport;
  RioSender idle = RioSender::kIdle;
  // Stop holds the send side, or an earlier packet failed: nothing goes out.
  if (!s.sender.compare_exchange_strong(idle, RioSender::kStreaming)) return false;
  switch (postPacket(session)) {
    case PacketResult::kSent:
      s.sender.store(RioSender::kIdle);
      return true;
    case PacketResult::kStopping:
      s.sender.store(RioSender::kIdle);
      return false;
    case PacketResult::kFailed:
      break;
  }
  // The data socket stays open until stop has joined this thread: closing it
  // here could pull it from under stop's last datagram. Closing the send side
  // ends the stream just as well, through the next tick wait.
  s.sender.store(RioSender::kClosed);
  control::closeControlConnection(*session.connection);
  return false;
}

int32_t waitForTick(StreamState& slot) noexcept {
  DataTransportState& s = slot.transport;
  if (s.closing.load(std::memory_order_acquire) ||
      s.sender.load(std::memory_order_acquire) == RioSender::kClosed) {
    return 0;
  }
  const platform::KernelHandle event = s.rioEvent.load(std::memory_order_acquire);
  if (event == nullptr ||
      platform::waitForEvent(event, kTickWaitMilliseconds) != platform::WaitResult::kSignalled ||
      s.closing.load(std::memory_order_acquire)) {
    return 0;
  }
  const uint32_t taken =
      platform::rioDequeue(s.rioTable, s.receiveCompletionQueue, &s.receiveResult, 1);
  // A broken queue has filled in nothing: its last result is no tick.
  if (taken == 0 || taken == platform::kRioCorruptCq) return 0;
  platform::rioNotify(s.rioTable, s.receiveCompletionQueue);
  auto* tickSlot =
      reinterpret_cast<RioBuf*>(static_cast<uintptr_t>(s.receiveResult.requestContext));
  if (tickSlot == &s.tickSlots[0] || tickSlot == &s.tickSlots[1]) {
    platform::rioReceive(s.rioTable, s.requestQueue, tickSlot, 0, tickSlot);
  }
  return static_cast<int32_t>(s.receiveResult.bytesTransferred);
}

void sendStopSignal(StreamState& slot) noexcept {
  DataTransportState& s = slot.transport;
  s.closing.store(true, std::memory_order_release);
  // Wait for a packet under way to be posted, or given up.
  for (;;) {
    RioSender expected = RioSender::kIdle;
    if (s.sender.compare_exchange_strong(expected, RioSender::kClosed)) break;
    if (expected == RioSender::kClosed) return;
    platform::sleepMilliseconds(1);
  }
  // The last packet's sends may still fill the queue: reap what has
  // completed to make room.
  RioResult result{};
  for (int attempt = 0; attempt < kStopPolls; ++attempt) {
    while (platform::rioDequeue(s.rioTable, s.sendCompletionQueue, &result, 1) == 1) {
    }
    if (platform::rioSend(s.rioTable, s.requestQueue, &s.stopSlice, platform::kRioMsgDontNotify,
                          &s.stopSlice)) {
      return;
    }
    platform::sleepMilliseconds(1);
  }
}

void release(StreamState& slot) noexcept {
  DataTransportState& s = slot.transport;
  s.sender.store(RioSender::kClosed);
  if (s.sendCompletionQueue != platform::kRioInvalidCq) {
    platform::rioCloseCompletionQueue(s.rioTable, s.sendCompletionQueue);
    s.sendCompletionQueue = platform::kRioInvalidCq;
  }
  if (s.receiveCompletionQueue != platform::kRioInvalidCq) {
    platform::rioCloseCompletionQueue(s.rioTable, s.receiveCompletionQueue);
    s.receiveCompletionQueue = platform::kRioInvalidCq;
  }
  // It ended with its socket, closed before this.
  s.requestQueue = platform::kRioInvalidRq;
  if (s.packetBufferId != platform::kRioInvalidBufferId) {
    platform::rioDeregisterBuffer(s.rioTable, s.packetBufferId);
    s.packetBufferId = platform::kRioInvalidBufferId;
  }
  const platform::KernelHandle event = s.rioEvent.exchange(nullptr);
  if (event != nullptr) platform::closeEvent(event);
}

}  // namespace tavro::stream::rio
