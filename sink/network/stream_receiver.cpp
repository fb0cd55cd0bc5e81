#include "sink/network/stream_receiver.h"

#include <algorithm>

#include "sink/os/clock.h"
#include "sink/os/poll.h"

namespace tavro::sink {
namespace {

constexpr int64_t kPollNs = 10'000'000;
// After the driver closes, datagrams already sent may still be queued.
constexpr int64_t kDrainQuietNs = 50'000'000;
constexpr int64_t kDrainLimitNs = 1'000'000'000;
// How long the answer to the last tick may take before the sink ends anyway.
constexpr int64_t kLastPacketGraceNs = 1'000'000'000;

}  // namespace

StreamReceiver::StreamReceiver(const SessionSetup& setup, TickPacer& pacer, PacketQueue& queue)
    : setup_(setup),
      format_(setup.consumer.format),
      pacer_(pacer),
      queue_(queue),
      datagrams_(setup.udp, format_.datagramSize, format_.datagramsPerPacket()) {
  current_ = queue_.take();
}

StreamEnd StreamReceiver::run() {
  const StreamEnd end = setup_.transport == 2 ? receiveUdp() : receiveTcp();
  endNs_ = os::monotonicNs();
  return end;
}

StreamReceiver::Ready StreamReceiver::wait(os::Socket data, bool watchControl, int64_t timeoutNs) {
  // No placeholder entry for the control connection: Winsock's poll fails
  // on a socket that is not one.
  os::PollEntry watched[3] = {os::readable(setup_.wake), os::readable(data),
                              os::readable(setup_.control)};
  const int ready = os::poll(watched, watchControl ? 3 : 2, timeoutNs);
  if (ready <= 0) return Ready::kNothing;
  if (watched[0].revents != 0) return Ready::kStop;
  if (watched[1].revents != 0) return Ready::kData;
  if (watched[2].revents != 0) return Ready::kControl;
  return Ready::kNothing;
}

void StreamReceiver::startPacing(const TickPacer::Target& target) {
  const std::string priority = pacer_.start(target, os::monotonicNs());
  pacing_ = true;
  setup_.print("tick pacer at " + priority);
}

void StreamReceiver::complete() {
  const int64_t now = os::monotonicNs();
  // A malformed packet took its tick's place: later packets keep their numbers.
  const uint64_t index = packets_ + malformed_;
  if (index > 0) {
    if (pacer_.sent() < index) {
      ++unasked_;
    } else if (const int64_t sentAt = pacer_.sentAt(index); sentAt >= 0) {
      latency_.add(now - sentAt);
      // Due when the next tick is, or a period after its own tick when the
      // sink itself sent that one late: the driver had that long either way.
      const int64_t due = std::max(pacer_.originNs() + format_.tickOffsetNs(index + 1),
                                   sentAt + format_.periodNs());
      if (now > due) ++late_;
    }
  }
  current_->index = index;
  queue_.push(std::move(current_));
  current_ = queue_.take();
  ++packets_;
}

bool StreamReceiver::limitReached() {
  if (setup_.tickLimit == 0 || setup_.ticks.silentAtLimit || !pacer_.done()) return false;
  if (packets_ + malformed_ >= pacer_.sent() + 1) return true;
  const int64_t now = os::monotonicNs();
  if (limitSeenNs_ < 0) limitSeenNs_ = now;
  return now - limitSeenNs_ > kLastPacketGraceNs + 4 * format_.periodNs();
}

StreamEnd StreamReceiver::receiveTcp() {
  transport_ = "tcp";
  TickPacer::Target target;
  target.socket = setup_.control;
  startPacing(target);
  uint32_t filled = 0;
  for (;;) {
    const Ready ready = wait(setup_.control, false, kPollNs);
    if (ready == Ready::kStop) return StreamEnd::kStopped;
    if (ready == Ready::kData) {
      const os::Io got = os::receive(setup_.control, current_->bytes.data() + filled,
                                     format_.packetBytes - filled);
      if (got.ended()) {
        if (filled > 0) ++malformed_;  // a packet cut short
        return controlFailure(got.error);
      }
      if (got.bytes > 0) {
        bytes_ += static_cast<uint64_t>(got.bytes);
        filled += static_cast<uint32_t>(got.bytes);
        if (filled == format_.packetBytes) {
          complete();
          filled = 0;
        }
      }
    }
    if (limitReached()) {
      if (filled > 0) ++malformed_;
      return StreamEnd::kTickLimit;
    }
  }
}

void StreamReceiver::takeDatagram() {
  switch (datagrams_.take(current_->bytes.data())) {
    case DatagramIntake::Kind::kNothing:
      return;
    case DatagramIntake::Kind::kPriming: {
      transport_ = datagrams_.transport();
      setup_.print(datagrams_.describePriming());
      TickPacer::Target target;
      target.socket = setup_.udp;
      target.datagram = true;
      target.to = datagrams_.source();
      startPacing(target);
      return;
    }
    case DatagramIntake::Kind::kForeign:
      ++foreign_;
      return;
    case DatagramIntake::Kind::kPiece:
      bytes_ += datagrams_.lastBytes();
      return;
    case DatagramIntake::Kind::kPacket:
      bytes_ += datagrams_.lastBytes();
      complete();
      return;
    case DatagramIntake::Kind::kStop:
      if (datagrams_.dropped() > 0) ++malformed_;  // the packet under way stays incomplete
      setup_.print("stop datagram of " + std::to_string(datagrams_.lastBytes()) + " bytes");
      return;
    case DatagramIntake::Kind::kMalformed:
      // It spoils the packet it belongs to, which is the one under way if
      // there is one.
      bytes_ += datagrams_.lastBytes();
      ++malformed_;
      return;
  }
}

void StreamReceiver::drainDatagrams() {
  const int64_t until = os::monotonicNs() + kDrainLimitNs;
  while (os::monotonicNs() < until && wait(setup_.udp, false, kDrainQuietNs) == Ready::kData) {
    takeDatagram();
  }
}

StreamEnd StreamReceiver::receiveUdp() {
  transport_ = "udp";
  for (;;) {
    const Ready ready = wait(setup_.udp, true, kPollNs);
    if (ready == Ready::kStop) return StreamEnd::kStopped;
    if (ready == Ready::kData) takeDatagram();
    if (ready == Ready::kControl) {
      uint8_t unexpected[64];
      const os::Io got = os::receive(setup_.control, unexpected, sizeof unexpected);
      if (got.ended()) {
        const StreamEnd end = controlFailure(got.error);
        drainDatagrams();
        if (datagrams_.pieces() > 0) ++malformed_;
        return end;
      }
    }
    if (limitReached()) {
      if (datagrams_.pieces() > 0) ++malformed_;
      return StreamEnd::kTickLimit;
    }
  }
}

}  // namespace tavro::sink
