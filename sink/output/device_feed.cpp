#include "sink/output/device_feed.h"

#include <algorithm>

#include "sink/os/clock.h"

namespace tavro::sink {
namespace {

int64_t framesToNs(uint64_t frames, uint32_t rate) {
  return rate == 0 ? 0 : static_cast<int64_t>(frames * 1'000'000'000 / rate);
}

}  // namespace

DeviceFeed::DeviceFeed(std::unique_ptr<DeviceOutput> device, DeviceRequest request,
                       const StreamFormat& format, DopMode dop, Print print)
    : device_(std::move(device)),
      request_(std::move(request)),
      format_(format),
      dop_(dop),
      print_(std::move(print)) {
  // The widest a packet gets at the card: DSD_U8 doubles the frames, and no
  // container is wider than 4 bytes.
  deviceBytes_.resize((size_t{format_.packetFrames} * 2 + 2) * 2 * 4);
  packetFrames_ = SampleConverter(format_.bits, device_->sample(), request_.dopStream)
                      .deviceFramesFor(format_.packetFrames);
}

bool DeviceFeed::avail(uint32_t& room) {
  room = 0;
  const DeviceStatus status = device_->avail(room);
  if (status == DeviceStatus::kUnderrun) {
    room = 0;
    return underrun();
  }
  return status != DeviceStatus::kGone;
}

bool DeviceFeed::pollStatus(os::PollEntry* polled, int count) {
  const DeviceStatus status = device_->pollStatus(polled, count);
  if (status == DeviceStatus::kUnderrun) return underrun();
  return status != DeviceStatus::kGone;
}

bool DeviceFeed::play(const uint8_t* packet) {
  if (!converter_ && !begin(packet)) return false;
  uint8_t* out = deviceBytes_.data();
  const uint32_t frames = packet != nullptr ? converter_->convert(packet, format_.packetFrames, out)
                                            : converter_->silence(format_.packetFrames, out);
  for (int attempt = 0;; ++attempt) {
    const DeviceStatus status = device_->write(out, frames);
    if (status == DeviceStatus::kOk) break;
    if (status == DeviceStatus::kGone || attempt > 2 || !underrun()) return false;
  }
  const int64_t now = os::monotonicNs();
  if (dry_) {
    dry_ = false;
    ++underruns_;
    print_("underrun (at least " + std::to_string((now - drySinceNs_) / 1'000'000) + " ms)");
    warnIfUnderrunsClimb(now);
  }
  const uint32_t delay = device_->delayFrames();
  delaySumUs_ += static_cast<uint64_t>(framesToNs(delay, device_->rate()) / 1000);
  ++delaySamples_;
  dryAtNs_ = now + framesToNs(delay, device_->rate());
  return true;
}

void DeviceFeed::finish() {
  if (!device_) return;
  if (converter_) {
    if (const uint32_t frames = converter_->flush(deviceBytes_.data()); frames > 0) {
      device_->write(deviceBytes_.data(), frames);
    }
  }
  const int64_t queued = framesToNs(device_->bufferFrames(), device_->rate());
  device_->playOut(queued + 500'000'000);
}

std::string DeviceFeed::describe() const { return device_->name() + ": " + device_->describe(); }

uint64_t DeviceFeed::underruns() const {
  return underruns_ + (device_ ? device_->underrunsSeen() : 0);
}

bool DeviceFeed::begin(const uint8_t* first) {
  bool dop = false;
  if (dopPossible(format_)) {
    switch (dop_) {
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
    print_("the stream is 24-bit PCM, not DoP: playing it as PCM");
    request_.dopStream = false;
    device_.reset();
    DeviceRefusal refusal;
    device_ = openOutput(request_, refusal);
    if (!device_) {
      print_(refusal.reason);
      return false;
    }
    print_("playing to " + describe());
  }
  converter_.emplace(format_.bits, device_->sample(), dop);
  packetFrames_ = converter_->deviceFramesFor(format_.packetFrames);
  if (isNativeDsd(device_->sample())) {
    dsd_ = "native";
    print_(std::string("DoP converted to native ") + sampleName(device_->sample()));
  } else if (dop) {
    dsd_ = "dop";
    print_(std::string("DoP passed through as ") + sampleName(device_->sample()));
  }
  return true;
}

bool DeviceFeed::underrun() {
  // Counted once the card plays again: a card that runs dry because the
  // driver has stopped for good is the stream's end, not an underrun.
  if (!dry_) {
    dry_ = true;
    drySinceNs_ = std::min(dryAtNs_, os::monotonicNs());
  }
  return device_->recover() == DeviceStatus::kOk;
}

void DeviceFeed::warnIfUnderrunsClimb(int64_t now) {
  // One underrun is a hiccup; several within seconds of each other say the
  // packets cannot come as fast as the card plays them.
  recentUnderrunsNs_[underruns_ % kRecentUnderruns] = now;
  const int64_t oldest = recentUnderrunsNs_[(underruns_ + 1) % kRecentUnderruns];
  if (underruns_ < kRecentUnderruns || now - oldest > kUnderrunWindowNs) return;
  if (warnedNs_ != 0 && now - warnedNs_ < kUnderrunWindowNs) return;
  warnedNs_ = now;
  print_(std::to_string(kRecentUnderruns) + " underruns within " +
         std::to_string(kUnderrunWindowNs / 1'000'000'000) +
         " s: the network (or the player) cannot carry this stream as fast as the card plays "
         "it; try a lower rate, a wired link, or transport mode 1");
}

}  // namespace tavro::sink
