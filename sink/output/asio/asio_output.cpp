#include "sink/output/asio/asio_output.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "sink/output/asio/asio_carrier.h"

namespace tavro::sink {
namespace {

std::atomic<AsioOutput*> gPlaying{nullptr};

void TAVRO_CDECL onBufferSwitch(int32_t half, asio::AsioBool /*direct*/) {
  if (AsioOutput* output = gPlaying.load(std::memory_order_acquire)) output->bufferSwitch(half);
}

void TAVRO_CDECL onRateChange(asio::AsioSampleRate /*rate*/) {}

int32_t TAVRO_CDECL onMessage(int32_t selector, int32_t value, void* /*message*/,
                              double* /*opt*/) {
  AsioOutput* output = gPlaying.load(std::memory_order_acquire);
  return output != nullptr ? output->message(selector, value) : 0;
}

asio::AsioCallbacks gCallbacks{&onBufferSwitch, &onRateChange, &onMessage, nullptr};

bool refuse(DeviceRefusal& refusal, int code, std::string reason) {
  refusal.code = code;
  refusal.reason = std::move(reason);
  return false;
}

}  // namespace

std::unique_ptr<DeviceOutput> AsioOutput::open(const DeviceRequest& request,
                                               DeviceRefusal& refusal) {
  std::unique_ptr<AsioOutput> output(new AsioOutput);
  output->name_ = request.name;
  if (!output->host_.ready()) {
    refuse(refusal, 1, "device " + request.name + ": COM cannot be started for its driver");
    return nullptr;
  }
  int code = 0;
  if (!output->waker_.open(code)) {
    refuse(refusal, 1, "device " + request.name + ": " + os::errorText(code));
    return nullptr;
  }
  bool ready = false;
  auto setUp = [&] { ready = output->setUp(request, refusal); };
  output->host_.run(setUp);
  if (!ready) return nullptr;
  return output;
}

bool AsioOutput::setUp(const DeviceRequest& request, DeviceRefusal& refusal) {
  const std::string shown = "device " + request.name;
  std::string error;
  handle_ = AsioDriverHandle::create(asioDriverName(request.name), error);
  if (!handle_) return refuse(refusal, 1, shown + ": " + error);
  asio::IAsio& driver = handle_->driver();

  int32_t inputs = 0;
  int32_t outputs = 0;
  if (driver.getChannels(&inputs, &outputs) != asio::kAseOk || outputs < 2) {
    return refuse(refusal, 3, shown + " has no pair of outputs");
  }

  // DSD first: a driver's rates and sample types are those of its mode.
  if (request.dopStream && request.dsd != DsdOutput::kDop) {
    asio::AsioIoFormat format{};
    format.formatType = asio::kAsioDsdFormat;
    const bool canDsd = driver.future(asio::kAsioCanDoIoFormat, &format) == asio::kAseSuccess &&
                        driver.future(asio::kAsioSetIoFormat, &format) == asio::kAseSuccess;
    const bool atRate = canDsd && driver.canSampleRate(asioRate(request.rate, true)) == asio::kAseOk;
    if (atRate) {
      dsd_ = true;
    } else {
      if (canDsd) {
        format.formatType = asio::kAsioPcmFormat;
        driver.future(asio::kAsioSetIoFormat, &format);
      }
      if (request.dsd == DsdOutput::kNative) {
        const auto dsdRate = static_cast<uint64_t>(asioRate(request.rate, true));
        return canDsd ? refuse(refusal, 2,
                               shown + " plays no native DSD at " + std::to_string(dsdRate) + " Hz")
                      : refuse(refusal, 3, shown + " plays no native DSD");
      }
    }
  }
  asioRate_ = asioRate(request.rate, dsd_);
  if (driver.canSampleRate(asioRate_) != asio::kAseOk ||
      driver.setSampleRate(asioRate_) != asio::kAseOk) {
    return refuse(refusal, 2,
                  shown + " does not play " + std::to_string(request.bits) + "-bit samples at " +
                      std::to_string(request.rate) + " Hz");
  }

  int32_t types[2] = {};
  for (int32_t channel = 0; channel < 2; ++channel) {
    asio::AsioChannelInfo info{};
    info.channel = channel;
    info.isInput = asio::kAsioFalse;
    if (driver.getChannelInfo(&info) != asio::kAseOk) {
      return refuse(refusal, 1, shown + " does not describe its output " + std::to_string(channel));
    }
    types[channel] = info.type;
  }
  const bool carried = types[0] == types[1] && (dsd_ ? asioCarriesDsd(types[0])
                                                     : asioCarriesPcm(types[0], request.bits));
  if (!carried) {
    return refuse(refusal, 3,
                  shown + " takes " + asioTypeName(types[0]) + ", which does not hold " +
                      (dsd_ ? std::string("DSD") : std::to_string(request.bits) + "-bit") +
                      " samples exactly");
  }
  typeName_ = asioTypeName(types[0]);
  sample_ = *asioDeviceSample(types[0]);
  deviceRate_ = deviceRate(sample_, request.rate);

  int32_t least = 0;
  int32_t most = 0;
  int32_t preferred = 0;
  int32_t granularity = 0;
  if (driver.getBufferSize(&least, &most, &preferred, &granularity) != asio::kAseOk ||
      asioHalfFrames(preferred, dsd_) == 0) {
    return refuse(refusal, 1, shown + " gives no buffer size");
  }
  const uint32_t half = asioHalfFrames(preferred, dsd_);
  const SampleConverter sizing(request.bits, sample_, request.dopStream && dsd_);
  packetFrames_ = std::max<uint32_t>(sizing.deviceFramesFor(request.packetFrames), 1);
  // The DAC takes a whole half at once, so the feed holds a half beyond the
  // packets the device's buffer is meant to hold. Whole packets fill it: the
  // prefill ends with the last whole one, less half a packet for the timing
  // of its arrival.
  HalfFeedShape shape;
  shape.sampleBytes = sampleBytes(sample_);
  shape.channels = 2;
  shape.capacityFrames = half + packetFrames_ * std::max<uint32_t>(request.bufferPackets, 2);
  shape.halfFrames = half;
  shape.startFrames = shape.capacityFrames / packetFrames_ * packetFrames_ - packetFrames_ / 2;
  shape.silence = dsd_ ? kDsdSilence : 0;
  feed_ = std::make_unique<HalfFeed>(shape);

  // Claimed before createBuffers: a driver may call back from inside it.
  AsioOutput* none = nullptr;
  if (!gPlaying.compare_exchange_strong(none, this)) {
    return refuse(refusal, 1, shown + " is busy: another stream plays through ASIO");
  }
  claimed_ = true;
  for (int32_t channel = 0; channel < 2; ++channel) {
    buffers_[channel] = {asio::kAsioFalse, channel, {nullptr, nullptr}};
  }
  if (driver.createBuffers(buffers_, 2, preferred, &gCallbacks) != asio::kAseOk) {
    return refuse(refusal, 1, shown + " cannot make its buffers: " + handle_->errorText());
  }
  handle_->buffersMade();
  useOutputReady_ = driver.outputReady() == asio::kAseOk;
  return true;
}

AsioOutput::~AsioOutput() {
  auto release = [this] {
    if (handle_ && started_) handle_->driver().stop();
    handle_.reset();  // its buffers first, then the driver
  };
  host_.run(release);
  if (claimed_) gPlaying.store(nullptr, std::memory_order_release);
}

std::string AsioOutput::describe() const {
  const HalfFeedShape& shape = feed_->shape();
  return typeName_ + (dsd_ ? " (native DSD)" : "") + " at " +
         std::to_string(static_cast<uint64_t>(asioRate_)) + " Hz, halves of " +
         std::to_string(shape.halfFrames) + " frames, " + std::to_string(shape.capacityFrames) +
         " frames queued at most";
}

int AsioOutput::pollDescriptors(os::PollEntry* into, int space) {
  if (space < 1) return 0;
  into[0] = os::readable(waker_.watched());
  return 1;
}

DeviceStatus AsioOutput::pollStatus(os::PollEntry* polled, int count) {
  if (count > 0 && polled[0].revents != 0) waker_.drain();
  return status();
}

DeviceStatus AsioOutput::status() {
  if (gone()) return DeviceStatus::kGone;
  // The DAC played silence where it had nothing: the sink counts it as it
  // counts a card that ran dry, once it plays again.
  if (feed_->takeUnderrun()) return DeviceStatus::kUnderrun;
  return DeviceStatus::kOk;
}

DeviceStatus AsioOutput::avail(uint32_t& frames) {
  frames = feed_->room();
  return status();
}

bool AsioOutput::startDriver() {
  bool started = false;
  auto start = [&] { started = handle_->driver().start() == asio::kAseOk; };
  host_.run(start);
  started_ = started;
  return started;
}

DeviceStatus AsioOutput::write(const uint8_t* frames, uint32_t count) {
  if (gone()) return DeviceStatus::kGone;
  if (feed_->room() < count) return DeviceStatus::kUnderrun;  // nothing queued, as the contract says
  feed_->write(frames, count);
  if (!started_ && feed_->queued() >= feed_->shape().startFrames && !startDriver()) {
    return DeviceStatus::kGone;
  }
  return DeviceStatus::kOk;
}

uint32_t AsioOutput::delayFrames() {
  // What waits in the feed, and the half the DAC plays now.
  return feed_->queued() + (started_ ? feed_->shape().halfFrames : 0);
}

void AsioOutput::playOut(int64_t limitNs) {
  feed_->drain();
  if (!started_ && feed_->queued() > 0 && !gone()) startDriver();
  if (!started_) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(limitNs);
  // The last frames go out in the half taken after them, and that half is
  // played in the period after it was taken.
  const uint32_t half = feed_->shape().halfFrames;
  const uint64_t enough = feed_->halvesTaken() + (feed_->queued() + half - 1) / half + 2;
  while (!gone() && feed_->halvesTaken() < enough && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void AsioOutput::bufferSwitch(int32_t half) {
  if (half < 0 || half > 1) return;
  uint8_t* planes[2] = {static_cast<uint8_t*>(buffers_[0].buffers[half]),
                        static_cast<uint8_t*>(buffers_[1].buffers[half])};
  if (planes[0] == nullptr || planes[1] == nullptr) return;
  feed_->takeHalf(planes);
  if (useOutputReady_) handle_->driver().outputReady();
  waker_.wake();
}

int32_t AsioOutput::message(int32_t selector, int32_t value) {
  switch (selector) {
    case asio::kAsioSelectorSupported:
      return value == asio::kAsioResetRequest || value == asio::kAsioEngineVersion ||
                     value == asio::kAsioBufferSizeChange || value == asio::kAsioResyncRequest ||
                     value == asio::kAsioLatenciesChanged
                 ? 1
                 : 0;
    case asio::kAsioEngineVersion:
      return 2;
    case asio::kAsioResetRequest:
    case asio::kAsioBufferSizeChange:
      // The driver must be set up anew: for the stream, the device is gone.
      gone_.store(true, std::memory_order_release);
      waker_.wake();
      return 1;
    case asio::kAsioResyncRequest:
    case asio::kAsioLatenciesChanged:
      return 1;
    default:
      return 0;
  }
}

}  // namespace tavro::sink
