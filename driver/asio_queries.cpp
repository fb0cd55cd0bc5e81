// What a host asks before it prepares a stream: channels, latencies, the
// buffer size, rates, clock sources, position and channel information.
#include <cstring>

#include "driver/buffer_size.h"
#include "driver/control_panel.h"
#include "driver/sample_position.h"
#include "driver/vantrel.h"
#include "platform/clock.h"
#include "stream/dsd_rates.h"

namespace tavro::driver {
namespace {

constexpr int32_t kOutputChannels = 2;
constexpr char kChannelName[] = "TAVROStreamer";
constexpr char kClockName[] = "Internal";

}  // namespace

asio::AsioError Vantrel::getChannels(int32_t* inputs, int32_t* outputs) noexcept {
  *inputs = 0;
  *outputs = kOutputChannels;
  return asio::kAseOk;
}

asio::AsioError Vantrel::getLatencies(int32_t* input, int32_t* output) noexcept {
  *input = inputLatency;
  *output = outputLatency;
  return asio::kAseOk;
}

asio::AsioError Vantrel::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                       int32_t* granularity) noexcept {
  // One size only: start and packing go by bufferFrames, not by the size the
  // host later passes to createBuffers.
  const int32_t frames = bufferSizeFor(streamer.bufferSizeIndex, sampleRate.load());
  bufferFrames.store(frames);
  *minSize = frames;
  *maxSize = frames;
  *preferredSize = frames;
  *granularity = 0;
  return asio::kAseOk;
}

asio::AsioError Vantrel::canSampleRate(asio::AsioSampleRate /*rate*/) noexcept {
  // Whether the streamer can play a rate is known only when start announces it.
  return asio::kAseOk;
}

asio::AsioError Vantrel::getSampleRate(asio::AsioSampleRate* rate) noexcept {
  *rate = sampleRate;
  return asio::kAseOk;
}

asio::AsioError Vantrel::setSampleRate(asio::AsioSampleRate rate) noexcept {
  if (sampleRate.exchange(rate) == rate) return asio::kAseOk;
  const std::lock_guard<std::recursive_mutex> guard(callbacksGuard);
  if (prepared == nullptr) return asio::kAseOk;
  asio::AsioCallbacks* callbacks = prepared->buffers.callbacks();
  if (callbacks != nullptr && callbacks->sampleRateDidChange != nullptr) {
    callbacks->sampleRateDidChange(rate);
  }
  return asio::kAseOk;
}

asio::AsioError Vantrel::getClockSources(asio::AsioClockSource* clocks, int32_t* count) noexcept {
  clocks[0].index = 0;
  clocks[0].associatedChannel = -1;
  clocks[0].associatedGroup = -1;
  clocks[0].isCurrentSource = asio::kAsioTrue;
  std::memcpy(clocks[0].name, kClockName, sizeof kClockName);
  *count = 1;
  return asio::kAseOk;
}

asio::AsioError Vantrel::setClockSource(int32_t index) noexcept {
  return index == 0 ? asio::kAseOk : asio::kAseNotPresent;
}

asio::AsioError Vantrel::getSamplePosition(asio::AsioSamples* position,
                                           asio::AsioTimeStamp* timeStamp) noexcept {
  position->hi = 0;
  position->lo = positionLowWord(samplePosition.load(std::memory_order_relaxed));
  // Without a stream there is no moment the position belongs to.
  if (streamState.ticksWanted()) {
    if (const uint64_t now = platform::monotonicNanoseconds(); now != 0) {
      *timeStamp = toTimeStamp(now);
    }
  }
  return asio::kAseOk;
}

asio::AsioError Vantrel::getChannelInfo(asio::AsioChannelInfo* info) noexcept {
  const int32_t channel = info->channel;
  if (channel < 0 || info->isInput != asio::kAsioFalse || channel >= kOutputChannels) {
    return asio::kAseInvalidParameter;
  }
  info->type = stream::channelSampleType(sampleRate);
  info->isActive = asio::kAsioFalse;
  info->channelGroup = 0;
  const int32_t buffers = prepared != nullptr ? prepared->buffers.count() : 0;
  for (int32_t i = 0; i < buffers; ++i) {
    if (prepared->buffers.channel(i) == channel) {
      info->isActive = asio::kAsioTrue;
      break;
    }
  }
  std::memcpy(info->name, kChannelName, sizeof kChannelName);
  return asio::kAseOk;
}

// The panel is a program of its own, TAVROSettings, beside the driver: hosts
// that offer an "ASIO settings" button expect it to open something.
asio::AsioError Vantrel::controlPanel() noexcept {
  return openControlPanel() ? asio::kAseOk : asio::kAseNotPresent;
}
// No output-ready optimisation.
asio::AsioError Vantrel::outputReady() noexcept { return asio::kAseNotPresent; }

}  // namespace tavro::driver
