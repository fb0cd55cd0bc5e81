#include "sink/network/device_player.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "sink/os/clock.h"
#include "sink/os/poll.h"

namespace tavro::sink {
namespace {

// The card and the limits are looked at this often even when nothing arrives.
constexpr int64_t kIdleWaitNs = 50'000'000;
// How long the answer to the last tick may take before the sink ends anyway.
constexpr int64_t kLastPacketGraceNs = 1'000'000'000;
// After the driver closes, datagrams already sent may still be queued.
constexpr int64_t kDrainQuietNs = 50'000'000;
constexpr int64_t kDrainLimitNs = 1'000'000'000;
constexpr int kMostDeviceDescriptors = 8;

}  // namespace

DevicePlayer::DevicePlayer(const SessionSetup& setup, std::unique_ptr<DeviceOutput> device,
                           DeviceRequest request, PacketQueue& queue)
    : setup_(setup),
      format_(setup.consumer.format),
      bufferPackets_(std::clamp<uint32_t>(request.bufferPackets, 2, kTickRing / 2)),
      feed_(std::move(device), std::move(request), format_, setup.consumer.dop, setup.print),
      wire_(format_, setup.transport, setup.control, setup.udp),
      queue_(queue) {
  current_ = queue_.take();
  // A datagram carries no packet number: with one packet asked for at a
  // time, a lost one cannot make the next one's pieces pass for its own.
  maxInFlight_ = wire_.datagrams() ? 1 : bufferPackets_;
  // At the latest, half a period before the card would run dry without it,
  // so that the silence standing in for it is there in time; over UDP the
  // round trips this stream has had set how much sooner (LossDeadline).
  lostAfterNs_ = std::max(format_.periodNs() * (bufferPackets_ - 1) - format_.periodNs() / 2,
                          format_.periodNs() / 2);
  if (wire_.datagrams()) {
    // The driver's answer to a tick comes within a round trip; a copy the
    // network made of the packet before comes at about the same time. Half
    // a period is long enough to see both, and short enough that a stream of
    // equal packets (digital silence) still outpaces the card. Only whole
    // one-datagram packets can be told apart so.
    placement_.emplace(format_.packetBytes, format_.datagramsPerPacket() == 1,
                       std::min(format_.periodNs() / 2, lostAfterNs_));
    lossDeadline_.emplace(setup.giveUp, format_.periodNs(), lostAfterNs_);
  }
}

StreamEnd DevicePlayer::run() {
  setup_.print("playing to " + feed_.describe());
  const int64_t start = os::monotonicNs();
  startNs_ = start;
  nextStatusNs_ =
      setup_.statusSeconds == 0 ? INT64_MAX : start + int64_t{setup_.statusSeconds} * 1'000'000'000;
  for (;;) {
    const int64_t now = os::monotonicNs();
    Step step = askForRoom(now);
    if (step == Step::kGoOn && limitReached(now)) return StreamEnd::kTickLimit;
    printStatus(now);
    if (step == Step::kGoOn) step = waitAndTake(now);
    switch (step) {
      case Step::kGoOn:
        continue;
      case Step::kDriverEnded:
        return driverEnd_;
      case Step::kDeviceGone:
        setup_.print("device " + feed_.deviceName() +
                     " is gone; the stream ends, and the next one plays once it is back");
        return StreamEnd::kDeviceGone;
      case Step::kStopped:
        return StreamEnd::kStopped;
    }
  }
}

void DevicePlayer::finish(StreamEnd end) {
  if (end != StreamEnd::kDeviceGone && end != StreamEnd::kStopped) feed_.finish();
}

DevicePlayer::Step DevicePlayer::askForRoom(int64_t now) {
  if (wire_.datagrams() && !wire_.intake().primed()) return Step::kGoOn;
  if (setup_.tickLimit != 0 && ticks_ >= setup_.tickLimit) return Step::kGoOn;
  if (inFlight() >= maxInFlight_) return Step::kGoOn;
  uint32_t room = 0;
  if (!feed_.avail(room)) return Step::kDeviceGone;
  while (inFlight() < maxInFlight_ && room >= (inFlight() + 1) * feed_.packetFrames() &&
         (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit)) {
    const uint64_t tick = ticks_ + 1;
    const uint8_t bytes[2] = {static_cast<uint8_t>(tick), static_cast<uint8_t>(tick >> 8)};
    const os::Io sent =
        wire_.datagrams() ? os::sendTo(setup_.udp, bytes, sizeof bytes, wire_.intake().source())
                          : os::send(setup_.control, bytes, sizeof bytes);
    if (sent.bytes != static_cast<int64_t>(sizeof bytes)) {
      // A full buffer or a passing UDP error: the next round asks again. A
      // connection that is gone ends the stream.
      if (!wire_.datagrams() && sent.error != os::IoError::kNone && !sent.again()) {
        driverEnd_ = controlFailure(sent.error);
        return Step::kDriverEnded;
      }
      break;
    }
    tickSentNs_[tick % kTickRing] = now;
    ticks_ = tick;
    ++asked_;
  }
  return Step::kGoOn;
}

DevicePlayer::Step DevicePlayer::waitAndTake(int64_t now) {
  os::PollEntry watched[3 + kMostDeviceDescriptors];
  int count = 0;
  watched[count++] = os::readable(setup_.wake);
  watched[count++] = os::readable(wire_.socket());
  if (wire_.datagrams()) watched[count++] = os::readable(setup_.control);
  const int deviceAt = count;
  int deviceCount = 0;
  // Only while nothing is asked for: the room the card reports then is all
  // the sink's to ask for, and a card with room is not polled in a loop
  // while the packet that fills it is on its way.
  const bool mayTick = (!wire_.datagrams() || wire_.intake().primed()) &&
                       (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit);
  if (inFlight() == 0 && mayTick) {
    deviceCount = feed_.pollDescriptors(watched + count, kMostDeviceDescriptors);
    count += deviceCount;
  }
  const int ready = os::poll(watched, static_cast<size_t>(count), pollTimeoutNs(now));
  if (ready < 0) return Step::kGoOn;
  if (watched[0].revents != 0) return Step::kStopped;
  if (deviceCount > 0 && !feed_.pollStatus(watched + deviceAt, deviceCount)) {
    return Step::kDeviceGone;
  }
  if (watched[1].revents != 0) {
    const Step step = takeFromWire();
    if (step != Step::kGoOn) return step;
  }
  if (wire_.datagrams() && watched[2].revents != 0) {
    // In mode 2 the driver says nothing more on it: only its end matters.
    uint8_t unexpected[64];
    const os::Io got = os::receive(setup_.control, unexpected, sizeof unexpected);
    if (got.ended()) {
      driverEnd_ = controlFailure(got.error);
      drainDatagrams();
      return Step::kDriverEnded;
    }
  }
  return giveUpLost(os::monotonicNs());
}

DevicePlayer::Step DevicePlayer::takeFromWire() {
  // Datagrams carry no number: one that comes while nothing is asked for is
  // a copy, or a packet already given up as lost, and playing it would play
  // it twice or out of its place.
  const bool asked = inFlight() > 0 || wire_.underWay();
  const PacketAssembler::Kind kind = wire_.take(current_->bytes.data());
  const bool part = kind == PacketAssembler::Kind::kPiece || kind == PacketAssembler::Kind::kPacket;
  if (wire_.datagrams() && !asked && part) {
    wire_.restart();
    // Before the card had room to ask for the next: a packet given up, late.
    if (kind != PacketAssembler::Kind::kPacket || !placement_->arrivedUnasked()) ++unasked_;
    return Step::kGoOn;
  }
  switch (kind) {
    case PacketAssembler::Kind::kNothing:
    case PacketAssembler::Kind::kPiece:
      return Step::kGoOn;
    case PacketAssembler::Kind::kPriming:
      setup_.print(wire_.intake().describePriming());
      return Step::kGoOn;
    case PacketAssembler::Kind::kPacket:
      return wire_.datagrams() ? packetArrived(os::monotonicNs()) : complete(os::monotonicNs());
    case PacketAssembler::Kind::kStop:
      setup_.print(wire_.describeStop());
      // Nothing more follows a stop: the packet held was the driver's last,
      // unless pieces of another came after it.
      if (wire_.intake().dropped() > 0) {
        placement_->spoilt();
        return Step::kGoOn;
      }
      return placement_->stopCame() == PacketPlacement::Action::kPlayHeld ? playHeld()
                                                                          : Step::kGoOn;
    case PacketAssembler::Kind::kMalformed:
      // It spoils the packet it belongs to, whose place silence then takes.
      placement_->spoilt();
      return play(nullptr);
    case PacketAssembler::Kind::kEnded:
      driverEnd_ = controlFailure(wire_.endError());
      return Step::kDriverEnded;
  }
  return Step::kGoOn;
}

DevicePlayer::Step DevicePlayer::packetArrived(int64_t now) {
  const PacketPlacement::Decision decision = placement_->arrived(current_->bytes.data(), now);
  if (decision.lateRoundTripNs > 0) learnRoundTrip(decision.lateRoundTripNs);
  return decision.action == PacketPlacement::Action::kPlay ? complete(now) : Step::kGoOn;
}

DevicePlayer::Step DevicePlayer::playHeld() {
  std::copy_n(placement_->held(), format_.packetBytes, current_->bytes.begin());
  // After a loss it may yet have been a late one: its round trip is not the link's.
  return complete(placement_->heldSinceNs(), !placement_->heldAfterLoss());
}

void DevicePlayer::drainDatagrams() {
  const int64_t until = os::monotonicNs() + kDrainLimitNs;
  while (os::monotonicNs() < until) {
    os::PollEntry data = os::readable(setup_.udp);
    if (os::poll(&data, 1, kDrainQuietNs) <= 0) return;
    if (takeFromWire() != Step::kGoOn) return;
  }
}

DevicePlayer::Step DevicePlayer::complete(int64_t cameNs, bool timed) {
  const uint64_t index = arrived();
  if (index >= asked_) ++unasked_;  // the driver sent more than was asked for
  asked_ = std::max(asked_, index + 1);
  if (index >= 1 && index <= ticks_ && ticks_ - index < kTickRing) {
    latency_.add(cameNs - tickSentNs_[index % kTickRing]);
    if (lossDeadline_ && timed) learnRoundTrip(cameNs - tickSentNs_[index % kTickRing]);
  }
  ++packets_;
  givenUpSincePlayed_ = 0;
  if (placement_) {
    placement_->played(current_->bytes.data());
    overdueWhenPlayed_ = placement_->overdue();
  }
  const Step step = play(current_->bytes.data());
  current_->index = index;
  queue_.push(std::move(current_));
  current_ = queue_.take();
  return step;
}

int64_t DevicePlayer::askedAtNs() const {
  const uint64_t expected = arrived();
  return expected == 0 || expected > ticks_ ? -1 : tickSentNs_[expected % kTickRing];
}

DevicePlayer::Step DevicePlayer::giveUpLost(int64_t now) {
  if (!placement_) return Step::kGoOn;
  const int64_t wait = lossDeadline_->giveUpAfterNs();
  if (placement_->nextDueNs(askedAtNs(), wait) > now) return Step::kGoOn;
  // A datagram already here is not late, however late this thread is to
  // look: it is taken first, and the time judged after.
  os::PollEntry data = os::readable(setup_.udp);
  if (os::poll(&data, 1, 0) > 0) return Step::kGoOn;
  switch (placement_->due(now, askedAtNs(), wait).action) {
    case PacketPlacement::Action::kWait:
    case PacketPlacement::Action::kPlay:
      return Step::kGoOn;
    case PacketPlacement::Action::kPlayHeld:
      return playHeld();
    case PacketPlacement::Action::kGiveUp:
      // Its credit is taken back: the card's room asks for the next one.
      wire_.restart();
      ++lost_;
      ++givenUpSincePlayed_;
      return play(nullptr);
  }
  return Step::kGoOn;
}

void DevicePlayer::learnRoundTrip(int64_t ns) {
  lossDeadline_->addRoundTrip(ns);
  // One packet is asked for at a time, so packets can come no faster than
  // one per round trip: near a packet's period, the card cannot be kept fed.
  if (slowLinkTold_ || lossDeadline_->samples() < LossDeadline::kRecent ||
      packets_ % LossDeadline::kRecent != 0) {
    return;
  }
  const int64_t median = lossDeadline_->medianNs();
  if (median * 4 < format_.periodNs() * 3) return;
  slowLinkTold_ = true;
  char line[400];
  std::snprintf(line, sizeof line,
                "the round trip to the driver (median %.2f ms, slowest recent %.2f ms) is near or "
                "above a packet's period (%.2f ms): over UDP one packet is asked for at a time, "
                "so the card cannot be kept fed at this buffer size; choose a larger buffer size "
                "index in the driver's settings, or transport mode 1",
                static_cast<double>(median) / 1e6,
                static_cast<double>(lossDeadline_->highestNs()) / 1e6,
                static_cast<double>(format_.periodNs()) / 1e6);
  setup_.print(line);
}

int64_t DevicePlayer::pollTimeoutNs(int64_t now) const {
  int64_t wait = kIdleWaitNs;
  if (placement_) {
    const int64_t due = placement_->nextDueNs(askedAtNs(), lossDeadline_->giveUpAfterNs());
    if (due != INT64_MAX) wait = std::min(wait, due - now);
  }
  wait = std::min(wait, nextStatusNs_ - now);
  if (setup_.tickLimit != 0 && ticks_ >= setup_.tickLimit)
    wait = std::min<int64_t>(wait, 10'000'000);
  return std::max<int64_t>(wait, 0);
}

void DevicePlayer::printStatus(int64_t now) {
  if (now < nextStatusNs_) return;
  nextStatusNs_ = now + int64_t{setup_.statusSeconds} * 1'000'000'000;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(now - startNs_) / 1e9);
  setup_.print("status: stream=" + std::to_string(setup_.consumer.stream) + " seconds=" + seconds +
               " packets=" + std::to_string(packets_) + " underruns=" + std::to_string(feed_.underruns()) +
               " lost=" + std::to_string(lost_) +
               " device-delay-us=" + std::to_string(feed_.delayUs()));
}

bool DevicePlayer::limitReached(int64_t now) {
  if (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit) return false;
  if (arrived() >= asked_) return true;
  if (limitSeenNs_ < 0) limitSeenNs_ = now;
  return now - limitSeenNs_ > kLastPacketGraceNs + 4 * format_.periodNs();
}

uint64_t DevicePlayer::unanswered() const {
  // A late packet shows the driver was still answering: the oldest of these
  // ticks was its, and only those after it went unanswered.
  const uint64_t cameLate = placement_ ? placement_->overdue() - overdueWhenPlayed_ : 0;
  return givenUpSincePlayed_ - std::min(givenUpSincePlayed_, cameLate);
}

void DevicePlayer::fill(StreamReport& report) const {
  report.transport = wire_.datagrams() ? wire_.intake().transport() : "tcp";
  report.ticks = ticks_;
  report.packets = packets_;
  report.bytes = wire_.bytes();
  report.malformed = wire_.malformed();
  report.unasked = unasked_;
  report.duplicates = placement_ ? placement_->duplicates() : 0;
  report.foreign = wire_.foreign();
  report.takeLatency(latency_);
  report.device = feed_.deviceName();
  report.deviceFormat = feed_.formatName();
  report.dsd = feed_.dsd();
  report.underruns = feed_.underruns();
  report.unanswered = unanswered();
  report.lost = lost_ - report.unanswered;
  report.overdue = placement_ ? placement_->overdue() : 0;
  report.deviceDelayUs = feed_.delayUs();
}

}  // namespace tavro::sink
