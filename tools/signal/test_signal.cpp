#include "signal/test_signal.h"

namespace tavro::signal {
namespace {

// A cheap 64-bit mixer whose every output bit depends on every input bit.
constexpr uint64_t mix(uint64_t x) noexcept {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

constexpr uint64_t kPcmSeed = 0x5441'5652'4F50'434Dull;
constexpr uint64_t kDsdSeed = 0x5441'5652'4F44'5344ull;

// Four frames in every 64 of a channel are the extremes that truncation and
// shifting get wrong first. Each channel hits them at other frames, so the
// channels differ there too.
constexpr uint64_t kExtremePeriod = 64;
constexpr uint64_t kChannelOffset = 17;
constexpr int32_t kExtremes[] = {INT32_MIN, INT32_MAX, 0, -1};

}  // namespace

int32_t pcmSample(uint32_t channel, uint64_t frame) noexcept {
  const uint64_t phase = (frame + kChannelOffset * channel) % kExtremePeriod;
  if (phase < sizeof kExtremes / sizeof kExtremes[0]) return kExtremes[phase];
  const uint64_t hash = mix(mix(kPcmSeed + channel) ^ frame);
  return static_cast<int32_t>(static_cast<uint32_t>(hash >> 32));
}

uint8_t dsdByte(uint32_t channel, uint64_t byteIndex) noexcept {
  return static_cast<uint8_t>(mix(mix(kDsdSeed + channel) ^ byteIndex) >> 56);
}

}  // namespace tavro::signal
