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

int64_t framesToNs(uint64_t frames, uint32_t rate) {
  return rate == 0 ? 0 : static_cast<int64_t>(frames * 1'000'000'000 / rate);
}

}  // namespace

DevicePlayer::DevicePlayer(const SessionSetup& setup, std::unique_ptr<DeviceOutput> device,
                           DeviceRequest request, PacketQueue& queue)
    : setup_(setup),
      format_(setup.consumer.format),
      request_(std::move(request)),
      device_(std::move(device)),
      queue_(queue) {
  current_ = queue_.take();
  // The widest a packet gets at the card: DSD_U8 doubles the frames, and no
  // container is wider than 4 bytes.
  deviceBytes_.resize((size_t{format_.packetFrames} * 2 + 2) * 2 * 4);
  const auto bufferPackets = std::clamp<uint32_t>(request_.bufferPackets, 2, kTickRing / 2);
  // A datagram carries no packet number: with one packet asked for at a
  // time, a lost one cannot make the next one's pieces pass for its own.
  maxInFlight_ = setup.transport == 2 ? 1 : bufferPackets;
  // At the latest, half a period before the card would run dry without it,
  // so that the silence standing in for it is there in time; over UDP the
  // round trips this stream has had set how much sooner (LossDeadline).
  lostAfterNs_ = std::max(format_.periodNs() * (bufferPackets - 1) - format_.periodNs() / 2,
                          format_.periodNs() / 2);
  packetDeviceFrames_ = SampleConverter(format_.bits, device_->sample(), request_.dopStream)
                            .deviceFramesFor(format_.packetFrames);
  if (setup.transport == 2) {
    datagrams_.emplace(setup.udp, format_.datagramSize, format_.datagramsPerPacket());
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
  setup_.print("playing to " + device_->name() + ": " + device_->describe());
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
        setup_.print("device " + request_.name +
                     " is gone; the stream ends, and the next one plays once it is back");
        return StreamEnd::kDeviceGone;
      case Step::kStopped:
        return StreamEnd::kStopped;
    }
  }
}

void DevicePlayer::finish(StreamEnd end) {
  if (!device_ || end == StreamEnd::kDeviceGone || end == StreamEnd::kStopped) return;
  if (converter_) {
    if (const uint32_t frames = converter_->flush(deviceBytes_.data()); frames > 0) {
      device_->write(deviceBytes_.data(), frames);
    }
  }
  const int64_t queued = framesToNs(device_->bufferFrames(), device_->rate());
  device_->playOut(queued + 500'000'000);
}

DevicePlayer::Step DevicePlayer::askForRoom(int64_t now) {
  if (datagrams_ && !datagrams_->primed()) return Step::kGoOn;
  if (setup_.tickLimit != 0 && ticks_ >= setup_.tickLimit) return Step::kGoOn;
  if (inFlight() >= maxInFlight_) return Step::kGoOn;
  uint32_t room = 0;
  const DeviceStatus status = device_->avail(room);
  if (status == DeviceStatus::kGone) return Step::kDeviceGone;
  if (status == DeviceStatus::kUnderrun) return underrun(now);
  while (inFlight() < maxInFlight_ && room >= (inFlight() + 1) * packetDeviceFrames_ &&
         (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit)) {
    const uint64_t tick = ticks_ + 1;
    const uint8_t bytes[2] = {static_cast<uint8_t>(tick), static_cast<uint8_t>(tick >> 8)};
    const os::Io sent = datagrams_
                            ? os::sendTo(setup_.udp, bytes, sizeof bytes, datagrams_->source())
                            : os::send(setup_.control, bytes, sizeof bytes);
    if (sent.bytes != static_cast<int64_t>(sizeof bytes)) {
      // A full buffer or a passing UDP error: the next round asks again. A
      // connection that is gone ends the stream.
      if (!datagrams_ && sent.error != os::IoError::kNone && !sent.again()) {
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
  watched[count++] = os::readable(datagrams_ ? setup_.udp : setup_.control);
  if (datagrams_) watched[count++] = os::readable(setup_.control);
  const int deviceAt = count;
  int deviceCount = 0;
  // Only while nothing is asked for: the room the card reports then is all
  // the sink's to ask for, and a card with room is not polled in a loop
  // while the packet that fills it is on its way.
  const bool mayTick =
      (!datagrams_ || datagrams_->primed()) && (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit);
  if (inFlight() == 0 && mayTick) {
    deviceCount = device_->pollDescriptors(watched + count, kMostDeviceDescriptors);
    count += deviceCount;
  }
  const int ready = os::poll(watched, static_cast<size_t>(count), pollTimeoutNs(now));
  if (ready < 0) return Step::kGoOn;
  if (watched[0].revents != 0) return Step::kStopped;
  if (deviceCount > 0) {
    const DeviceStatus status = device_->pollStatus(watched + deviceAt, deviceCount);
    if (status == DeviceStatus::kGone) return Step::kDeviceGone;
    if (status == DeviceStatus::kUnderrun) return underrun(os::monotonicNs());
  }
  if (watched[1].revents != 0) {
    const Step step = datagrams_ ? receiveDatagram() : receiveTcp();
    if (step != Step::kGoOn) return step;
  }
  if (datagrams_ && watched[2].revents != 0) {
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

DevicePlayer::Step DevicePlayer::receiveTcp() {
  const os::Io got = os::receive(setup_.control, current_->bytes.data() + filled_,
                                 format_.packetBytes - filled_);
  if (got.ended()) {
    driverEnd_ = controlFailure(got.error);
    if (filled_ > 0) ++malformed_;  // a packet cut short
    return Step::kDriverEnded;
  }
  if (got.again()) return Step::kGoOn;
  bytes_ += static_cast<uint64_t>(got.bytes);
  filled_ += static_cast<uint32_t>(got.bytes);
  if (filled_ < format_.packetBytes) return Step::kGoOn;
  filled_ = 0;
  return complete(os::monotonicNs());
}

DevicePlayer::Step DevicePlayer::receiveDatagram() {
  // Datagrams carry no number: one that comes while nothing is asked for is
  // a copy, or a packet already given up as lost, and playing it would play
  // it twice or out of its place.
  const bool asked = inFlight() > 0 || datagrams_->pieces() > 0;
  const DatagramIntake::Kind kind = datagrams_->take(current_->bytes.data());
  if (!asked && (kind == DatagramIntake::Kind::kPiece || kind == DatagramIntake::Kind::kPacket)) {
    datagrams_->restart();
    // Before the card had room to ask for the next: a packet given up, late.
    if (kind != DatagramIntake::Kind::kPacket || !placement_->arrivedUnasked()) ++unasked_;
    return Step::kGoOn;
  }
  if (kind == DatagramIntake::Kind::kStop &&
      placement_->stopCame() == PacketPlacement::Action::kPlayHeld) {
    // Nothing more follows a stop: the packet held was the driver's last.
    if (const Step step = playHeld(); step != Step::kGoOn) return step;
  } else if (kind == DatagramIntake::Kind::kMalformed) {
    placement_->spoilt();
  }
  switch (kind) {
    case DatagramIntake::Kind::kNothing:
      return Step::kGoOn;
    case DatagramIntake::Kind::kPriming:
      setup_.print(datagrams_->describePriming());
      return Step::kGoOn;
    case DatagramIntake::Kind::kPiece:
      bytes_ += datagrams_->lastBytes();
      return Step::kGoOn;
    case DatagramIntake::Kind::kPacket:
      return packetArrived(os::monotonicNs());
    case DatagramIntake::Kind::kStop:
      if (datagrams_->dropped() > 0) ++malformed_;  // the packet under way stays incomplete
      setup_.print("stop datagram of " + std::to_string(datagrams_->lastBytes()) + " bytes");
      return Step::kGoOn;
    case DatagramIntake::Kind::kMalformed:
      // It spoils the packet it belongs to, whose place silence then takes.
      bytes_ += datagrams_->lastBytes();
      ++malformed_;
      return play(nullptr);
    case DatagramIntake::Kind::kForeign:
      ++foreign_;
      return Step::kGoOn;
  }
  return Step::kGoOn;
}

DevicePlayer::Step DevicePlayer::packetArrived(int64_t now) {
  bytes_ += datagrams_->lastBytes();
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
    if (receiveDatagram() != Step::kGoOn) return;
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
      datagrams_->restart();
      ++lost_;
      ++givenUpSincePlayed_;
      return play(nullptr);
  }
  return Step::kGoOn;
}

bool DevicePlayer::begin(const uint8_t* first) {
  bool dop = false;
  if (dopPossible(format_)) {
    switch (setup_.consumer.dop) {
      case DopMode::kOn:
        dop = true;
        break;
      case DopMode::kOff:
        break;
      case DopMode::kAuto:
        dop = first != nullptr && startsAsDop(first, format_.packetBytes);
        break;
    }
  }
  if (isNativeDsd(device_->sample()) && !dop) {
    setup_.print("the stream is 24-bit PCM, not DoP: playing it as PCM");
    request_.dopStream = false;
    device_.reset();
    DeviceRefusal refusal;
    device_ = openOutput(request_, refusal);
    if (!device_) {
      setup_.print(refusal.reason);
      return false;
    }
    setup_.print("playing to " + device_->name() + ": " + device_->describe());
  }
  converter_.emplace(format_.bits, device_->sample(), dop);
  packetDeviceFrames_ = converter_->deviceFramesFor(format_.packetFrames);
  if (isNativeDsd(device_->sample())) {
    dsd_ = "native";
    setup_.print(std::string("DoP converted to native ") + sampleName(device_->sample()));
  } else if (dop) {
    dsd_ = "dop";
    setup_.print(std::string("DoP passed through as ") + sampleName(device_->sample()));
  }
  return true;
}

DevicePlayer::Step DevicePlayer::play(const uint8_t* packet) {
  if (!converter_ && !begin(packet)) return Step::kDeviceGone;
  uint8_t* out = deviceBytes_.data();
  const uint32_t frames = packet != nullptr ? converter_->convert(packet, format_.packetFrames, out)
                                            : converter_->silence(format_.packetFrames, out);
  for (int attempt = 0;; ++attempt) {
    const DeviceStatus status = device_->write(out, frames);
    if (status == DeviceStatus::kOk) break;
    if (status == DeviceStatus::kGone || attempt > 2) return Step::kDeviceGone;
    if (const Step step = underrun(os::monotonicNs()); step != Step::kGoOn) return step;
  }
  const int64_t now = os::monotonicNs();
  if (dry_) {
    dry_ = false;
    ++underruns_;
    setup_.print("underrun (at least " + std::to_string((now - drySinceNs_) / 1'000'000) + " ms)");
    warnIfUnderrunsClimb(now);
  }
  const uint32_t delay = device_->delayFrames();
  delaySumUs_ += static_cast<uint64_t>(framesToNs(delay, device_->rate()) / 1000);
  ++delaySamples_;
  dryAtNs_ = now + framesToNs(delay, device_->rate());
  return Step::kGoOn;
}

DevicePlayer::Step DevicePlayer::underrun(int64_t now) {
  // Counted once the card plays again: a card that runs dry because the
  // driver has stopped for good is the stream's end, not an underrun.
  if (!dry_) {
    dry_ = true;
    drySinceNs_ = std::min(dryAtNs_, now);
  }
  return device_->recover() == DeviceStatus::kOk ? Step::kGoOn : Step::kDeviceGone;
}

void DevicePlayer::warnIfUnderrunsClimb(int64_t now) {
  // One underrun is a hiccup; several within seconds of each other say the
  // packets cannot come as fast as the card plays them.
  recentUnderrunsNs_[underruns_ % kRecentUnderruns] = now;
  const int64_t oldest = recentUnderrunsNs_[(underruns_ + 1) % kRecentUnderruns];
  if (underruns_ < kRecentUnderruns || now - oldest > kUnderrunWindowNs) return;
  if (warnedNs_ != 0 && now - warnedNs_ < kUnderrunWindowNs) return;
  warnedNs_ = now;
  setup_.print(std::to_string(kRecentUnderruns) + " underruns within " +
               std::to_string(kUnderrunWindowNs / 1'000'000'000) +
               " s: the network (or the player) cannot carry this stream as fast as the card "
               "plays it; try a lower rate, a wired link, or transport mode 1");
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
               " packets=" + std::to_string(packets_) + " underruns=" + std::to_string(underruns()) +
               " lost=" + std::to_string(lost_) +
               " device-delay-us=" + std::to_string(deviceDelayUs()));
}

bool DevicePlayer::limitReached(int64_t now) {
  if (setup_.tickLimit == 0 || ticks_ < setup_.tickLimit) return false;
  if (arrived() >= asked_) return true;
  if (limitSeenNs_ < 0) limitSeenNs_ = now;
  return now - limitSeenNs_ > kLastPacketGraceNs + 4 * format_.periodNs();
}

uint64_t DevicePlayer::underruns() const {
  return underruns_ + (device_ ? device_->underrunsSeen() : 0);
}

uint64_t DevicePlayer::unanswered() const {
  // A late packet shows the driver was still answering: the oldest of these
  // ticks was its, and only those after it went unanswered.
  const uint64_t cameLate = placement_ ? placement_->overdue() - overdueWhenPlayed_ : 0;
  return givenUpSincePlayed_ - std::min(givenUpSincePlayed_, cameLate);
}

uint64_t DevicePlayer::deviceDelayUs() const {
  return delaySamples_ == 0 ? 0 : delaySumUs_ / delaySamples_;
}

void DevicePlayer::fill(StreamReport& report) const {
  report.transport = datagrams_ ? datagrams_->transport() : "tcp";
  report.ticks = ticks_;
  report.packets = packets_;
  report.bytes = bytes_;
  report.malformed = malformed_;
  report.unasked = unasked_;
  report.duplicates = placement_ ? placement_->duplicates() : 0;
  report.foreign = foreign_;
  report.takeLatency(latency_);
  report.device = request_.name;
  report.deviceFormat = device_ ? sampleName(device_->sample()) : "-";
  report.dsd = dsd_;
  report.underruns = underruns();
  report.unanswered = unanswered();
  report.lost = lost_ - report.unanswered;
  report.overdue = placement_ ? placement_->overdue() : 0;
  report.deviceDelayUs = deviceDelayUs();
}

}  // namespace tavro::sink
