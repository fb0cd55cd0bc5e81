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
      wire_(format_, setup.transport, setup.control, setup.udp) {
  current_ = queue_.take();
}

StreamEnd StreamReceiver::run() {
  const StreamEnd end = receive();
  if (endNs_ == 0) endNs_ = os::monotonicNs();
  return end;
}

StreamReceiver::Ready StreamReceiver::wait(int64_t timeoutNs, bool watchControl) {
  // In mode 1 the data is the control connection. No placeholder entry for
  // it otherwise: Winsock's poll fails on a socket that is not one.
  os::PollEntry watched[3] = {os::readable(setup_.wake), os::readable(wire_.socket()),
                              os::readable(setup_.control)};
  const int ready = os::poll(watched, wire_.datagrams() && watchControl ? 3 : 2, timeoutNs);
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
  const uint64_t index = packets_ + wire_.malformed();
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
  if (packets_ + wire_.malformed() >= pacer_.sent() + 1) return true;
  const int64_t now = os::monotonicNs();
  if (limitSeenNs_ < 0) limitSeenNs_ = now;
  return now - limitSeenNs_ > kLastPacketGraceNs + 4 * format_.periodNs();
}

std::optional<StreamEnd> StreamReceiver::takeFromWire() {
  switch (wire_.take(current_->bytes.data())) {
    case PacketAssembler::Kind::kPriming: {
      transport_ = wire_.intake().transport();
      setup_.print(wire_.intake().describePriming());
      TickPacer::Target target;
      target.socket = setup_.udp;
      target.datagram = true;
      target.to = wire_.intake().source();
      startPacing(target);
      break;
    }
    case PacketAssembler::Kind::kPacket:
      complete();
      break;
    case PacketAssembler::Kind::kStop:
      setup_.print(wire_.describeStop());
      break;
    case PacketAssembler::Kind::kEnded:
      return controlFailure(wire_.endError());
    case PacketAssembler::Kind::kNothing:
    case PacketAssembler::Kind::kPiece:
    case PacketAssembler::Kind::kMalformed:
      break;
  }
  return std::nullopt;
}

void StreamReceiver::drainDatagrams() {
  const int64_t until = os::monotonicNs() + kDrainLimitNs;
  while (os::monotonicNs() < until && wait(kDrainQuietNs, false) == Ready::kData) takeFromWire();
}

StreamEnd StreamReceiver::receive() {
  transport_ = wire_.datagrams() ? "udp" : "tcp";
  if (!wire_.datagrams()) {
    TickPacer::Target target;
    target.socket = setup_.control;
    startPacing(target);
  }
  for (;;) {
    const Ready ready = wait(kPollNs, true);
    if (ready == Ready::kStop) return StreamEnd::kStopped;
    if (ready == Ready::kData) {
      if (const std::optional<StreamEnd> end = takeFromWire()) return *end;
    }
    if (ready == Ready::kControl) {
      // In mode 2 the driver says nothing more on it: only its end matters.
      uint8_t unexpected[64];
      const os::Io got = os::receive(setup_.control, unexpected, sizeof unexpected);
      if (got.ended()) {
        // The end is when the driver closed: a stranger's datagrams may keep
        // the drain below going to its limit, which must not move the end
        // (and with it which ticks count as answered) later.
        endNs_ = os::monotonicNs();
        drainDatagrams();
        wire_.cutShort();
        return controlFailure(got.error);
      }
    }
    if (limitReached()) {
      wire_.cutShort();
      return StreamEnd::kTickLimit;
    }
  }
}

}  // namespace tavro::sink
