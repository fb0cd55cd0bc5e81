#include "stream/internal/rio_transport.h"

#include <new>

#include "control/error_texts.h"
#include "platform/event.h"
#include "platform/net.h"
#include "platform/thread.h"

namespace tavro::stream {
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
constexpr uint32_t kStopPauseMilliseconds = 100;

}  // namespace

RioTransport::~RioTransport() {
  // The socket first: it ends the request queue and whatever it still had
  // posted, before the queues and the registration go.
  socket_.close();
  if (sendQueue_ != platform::kRioInvalidCq) platform::rioCloseCompletionQueue(table_, sendQueue_);
  if (receiveQueue_ != platform::kRioInvalidCq) {
    platform::rioCloseCompletionQueue(table_, receiveQueue_);
  }
  if (bufferId_ != platform::kRioInvalidBufferId) platform::rioDeregisterBuffer(table_, bufferId_);
  if (receiveEvent_ != nullptr) platform::closeEvent(receiveEvent_);
}

RioTransport::Opened RioTransport::open(const control::StreamerLink& link,
                                        control::Outcome& failure) noexcept {
  const auto fail = [&failure](control::Outcome outcome) {
    failure = outcome;
    return Opened::kFailed;
  };
  if (!socket_.valid()) return fail(control::failed(Notification::kConnectFailed));
  if (!platform::rioLoadTable(socket_.get(), &table_)) return Opened::kUnavailable;
  bufferId_ = platform::rioRegisterBuffer(table_, wire_.buffer, wire_.registerBytes);
  if (bufferId_ == platform::kRioInvalidBufferId) return Opened::kUnavailable;

  const uint32_t sendSlots = wire_.registerBytes / wire_.datagramSize;
  sendQueue_ = platform::rioCreateCompletionQueue(table_, sendSlots, nullptr);
  receiveEvent_ = platform::createEvent();
  if (receiveEvent_ != nullptr) {
    receiveQueue_ = platform::rioCreateCompletionQueue(table_, kReceiveQueueSize, receiveEvent_);
  }
  if (sendQueue_ == platform::kRioInvalidCq || receiveQueue_ == platform::kRioInvalidCq) {
    return fail(control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed));
  }
  platform::rioNotify(table_, receiveQueue_);

  requestQueue_ = platform::rioCreateRequestQueue(table_, socket_.get(), kReceiveQueueSize,
                                                  sendSlots, receiveQueue_, sendQueue_, nullptr);
  if (requestQueue_ == platform::kRioInvalidRq) {
    return fail(
        control::failed(control::errors::kCannotConnectData, Notification::kRequestQueueFailed));
  }

  platform::Ipv4Endpoint streamer{};
  if (platform::lookupNumericUdp(link.hostName.c_str(), link.portText.c_str(), &streamer) != 0) {
    return fail(control::failed(control::errors::kCannotCreateSocket));
  }
  if (platform::connectTo(socket_.get(), streamer) != 0) {
    return fail(control::failed(control::errors::kCannotConnectData, Notification::kConnectFailed));
  }

  const uint32_t count = wire_.datagramsPerBuffer;
  slices_.reset(count == 0 ? nullptr : new (std::nothrow) RioBuf[count]);
  if (!slices_) return fail(control::failed(Notification::kSetupFailed));
  for (uint32_t i = 0; i < count; ++i) {
    slices_[i] = {bufferId_, i * wire_.datagramSize, wire_.datagramSize};
  }
  sender_.store(Sender::kIdle);
  return Opened::kOpened;
}

void RioTransport::prime() noexcept {
  platform::rioSend(table_, requestQueue_, &slices_[0], platform::kRioMsgDontNotify, &slices_[0]);
  RioResult result{};
  for (int poll = 0; poll < kPatientPolls; ++poll) {
    if (platform::rioDequeue(table_, sendQueue_, &result, 1) != 0) break;
    platform::sleepMilliseconds(1);
  }
  const uint32_t packetBytes = wire_.datagramSize * wire_.datagramsPerBuffer;
  tickSlots_[0] = {bufferId_, packetBytes, kTickSlotBytes};
  tickSlots_[1] = {bufferId_, packetBytes + kTickSlotBytes, kTickSlotBytes};
  stopSlice_ = {bufferId_, packetBytes, 1};
  for (RioBuf& slot : tickSlots_) platform::rioReceive(table_, requestQueue_, &slot, 0, &slot);
}

RioTransport::Posted RioTransport::postPacket() noexcept {
  RioBuf* const slices = slices_.get();
  const uint32_t count = wire_.datagramsPerBuffer;
  // The first packet fills the send queue at once. A slice that did not go
  // out would leave a later packet waiting for a completion that never
  // comes, so these posts are checked too.
  if (packetsPosted_ == 0) {
    for (uint32_t i = 0; i < count; ++i) {
      if (!platform::rioSend(table_, requestQueue_, &slices[i], platform::kRioMsgDontNotify,
                             &slices[i])) {
        return Posted::kFailed;
      }
    }
    return Posted::kSent;
  }

  // Later packets post each slice again once its previous send has
  // completed, so no more than one packet's sends are ever outstanding. The
  // poll spins (the thread is time-critical and the completions are due)
  // but gives up on a broken queue or once stop has begun.
  RioResult result{};
  uint32_t posted = 0;
  while (posted < count) {
    const uint32_t taken = platform::rioDequeue(table_, sendQueue_, &result, 1);
    if (taken == platform::kRioCorruptCq) return Posted::kFailed;
    if (taken == 0) {
      if (closing_.load(std::memory_order_acquire)) return Posted::kStopping;
      continue;
    }
    auto* slice = reinterpret_cast<RioBuf*>(static_cast<uintptr_t>(result.requestContext));
    if (slice < slices || slice >= slices + count) continue;
    if (!platform::rioSend(table_, requestQueue_, slice, platform::kRioMsgDontNotify, slice)) {
      return Posted::kFailed;
    }
    ++posted;
  }
  return Posted::kSent;
}

bool RioTransport::sendPacket() noexcept {
  Sender idle = Sender::kIdle;
  // Stop holds the send side, or an earlier packet failed: nothing goes out.
  if (!sender_.compare_exchange_strong(idle, Sender::kStreaming)) return false;
  switch (postPacket()) {
    case Posted::kSent:
      ++packetsPosted_;
      sender_.store(Sender::kIdle);
      return true;
    case Posted::kStopping:
      sender_.store(Sender::kIdle);
      return false;
    case Posted::kFailed:
      break;
  }
  // The send side stays closed: stop's last datagram has nothing to wait
  // for, and the next tick wait reports the end at once.
  sender_.store(Sender::kClosed);
  return false;
}

int32_t RioTransport::receiveTick(void* /*buffer*/) noexcept {
  if (closing_.load(std::memory_order_acquire) ||
      sender_.load(std::memory_order_acquire) == Sender::kClosed) {
    return 0;
  }
  if (platform::waitForEvent(receiveEvent_, kTickWaitMilliseconds) !=
          platform::WaitResult::kSignalled ||
      closing_.load(std::memory_order_acquire)) {
    return 0;
  }
  const uint32_t taken = platform::rioDequeue(table_, receiveQueue_, &receiveResult_, 1);
  // A broken queue has filled in nothing: its last result is no tick.
  if (taken == 0 || taken == platform::kRioCorruptCq) return 0;
  platform::rioNotify(table_, receiveQueue_);
  auto* tickSlot = reinterpret_cast<RioBuf*>(static_cast<uintptr_t>(receiveResult_.requestContext));
  if (tickSlot == &tickSlots_[0] || tickSlot == &tickSlots_[1]) {
    platform::rioReceive(table_, requestQueue_, tickSlot, 0, tickSlot);
  }
  return static_cast<int32_t>(receiveResult_.bytesTransferred);
}

bool RioTransport::wake() noexcept {
  closing_.store(true, std::memory_order_release);
  platform::setEvent(receiveEvent_);
  return true;
}

void RioTransport::sendStopSignal() noexcept {
  postStopSlice();
  platform::sleepMilliseconds(kStopPauseMilliseconds);
}

void RioTransport::postStopSlice() noexcept {
  closing_.store(true, std::memory_order_release);
  // Wait for a packet under way to be posted, or given up.
  for (;;) {
    Sender expected = Sender::kIdle;
    if (sender_.compare_exchange_strong(expected, Sender::kClosed)) break;
    if (expected == Sender::kClosed) return;
    platform::sleepMilliseconds(1);
  }
  // The last packet's sends may still fill the queue: reap what has
  // completed to make room.
  RioResult result{};
  for (int attempt = 0; attempt < kStopPolls; ++attempt) {
    while (platform::rioDequeue(table_, sendQueue_, &result, 1) == 1) {
    }
    if (platform::rioSend(table_, requestQueue_, &stopSlice_, platform::kRioMsgDontNotify,
                          &stopSlice_)) {
      break;
    }
    platform::sleepMilliseconds(1);
  }
}

}  // namespace tavro::stream
