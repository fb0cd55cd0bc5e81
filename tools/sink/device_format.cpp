#include "sink/device_format.h"

#include <array>
#include <cstring>

#include "sink/stream_format.h"

namespace tavro::sink {
namespace {

constexpr std::array kPcm16{DeviceSample::kS16Le, DeviceSample::kS32Le, DeviceSample::kS24_3Le,
                            DeviceSample::kS24Le};
constexpr std::array kPcm24{DeviceSample::kS24_3Le, DeviceSample::kS32Le, DeviceSample::kS24Le};
constexpr std::array kPcm32{DeviceSample::kS32Le};
// Wider containers first: fewer, larger transfers for the same bits.
constexpr std::array kDsd{DeviceSample::kDsdU32Be, DeviceSample::kDsdU32Le, DeviceSample::kDsdU16Be,
                          DeviceSample::kDsdU16Le, DeviceSample::kDsdU8};

uint32_t readLe(const uint8_t* at, uint32_t bytes) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

}  // namespace

const char* sampleName(DeviceSample sample) {
  switch (sample) {
    case DeviceSample::kS16Le:
      return "S16_LE";
    case DeviceSample::kS24_3Le:
      return "S24_3LE";
    case DeviceSample::kS24Le:
      return "S24_LE";
    case DeviceSample::kS32Le:
      return "S32_LE";
    case DeviceSample::kDsdU8:
      return "DSD_U8";
    case DeviceSample::kDsdU16Le:
      return "DSD_U16_LE";
    case DeviceSample::kDsdU16Be:
      return "DSD_U16_BE";
    case DeviceSample::kDsdU32Le:
      return "DSD_U32_LE";
    case DeviceSample::kDsdU32Be:
      return "DSD_U32_BE";
  }
  return "unknown";
}

uint32_t sampleBytes(DeviceSample sample) {
  switch (sample) {
    case DeviceSample::kS16Le:
    case DeviceSample::kDsdU16Le:
    case DeviceSample::kDsdU16Be:
      return 2;
    case DeviceSample::kS24_3Le:
      return 3;
    case DeviceSample::kDsdU8:
      return 1;
    default:
      return 4;
  }
}

bool isNativeDsd(DeviceSample sample) { return sample >= DeviceSample::kDsdU8; }

std::span<const DeviceSample> pcmCandidates(uint32_t bits) {
  if (bits == 16) return kPcm16;
  if (bits == 24) return kPcm24;
  if (bits == 32) return kPcm32;
  return {};
}

std::span<const DeviceSample> dsdCandidates() { return kDsd; }

uint32_t deviceRate(DeviceSample sample, uint32_t streamRate) {
  if (!isNativeDsd(sample)) return streamRate;
  return static_cast<uint32_t>(uint64_t{streamRate} * 16 / (8 * sampleBytes(sample)));
}

SampleConverter::SampleConverter(uint32_t wireBits, DeviceSample sample, bool dop)
    : wireBits_(wireBits), sample_(sample), dop_(dop) {}

uint32_t SampleConverter::deviceFramesFor(uint32_t wireFrames) const {
  switch (sample_) {
    case DeviceSample::kDsdU8:
      return 2 * wireFrames;
    case DeviceSample::kDsdU32Le:
    case DeviceSample::kDsdU32Be:
      return (wireFrames + 1) / 2;
    default:
      return wireFrames;
  }
}

void SampleConverter::putPcm(uint32_t leftJustified, uint8_t*& out) const {
  switch (sample_) {
    case DeviceSample::kS16Le:
      leftJustified >>= 16;
      break;
    case DeviceSample::kS24_3Le:
      leftJustified >>= 8;
      break;
    case DeviceSample::kS24Le:
      // The container's top byte repeats the sign, as a card reading the low
      // 24 bits or the whole word both expect.
      leftJustified = static_cast<uint32_t>(static_cast<int32_t>(leftJustified) >> 8);
      break;
    default:
      break;
  }
  const uint32_t bytes = sampleBytes(sample_);
  for (uint32_t i = 0; i < bytes; ++i) *out++ = static_cast<uint8_t>(leftJustified >> (8 * i));
}

uint32_t SampleConverter::convert(const uint8_t* wire, uint32_t wireFrames, uint8_t* out) {
  if (isNativeDsd(sample_)) return convertNative(wire, wireFrames, out);
  const uint32_t bytes = wireBits_ / 8;
  for (uint32_t i = 0; i < 2 * wireFrames; ++i) {
    putPcm(readLe(wire + i * bytes, bytes) << (32 - wireBits_), out);
  }
  if (dop_ && wireFrames > 0) {
    const uint8_t last = wire[(2 * wireFrames - 1) * bytes + 2];
    nextMarker_ = last == kDopMarkerEven ? kDopMarkerOdd : kDopMarkerEven;
  }
  return wireFrames;
}

uint32_t SampleConverter::convertNative(const uint8_t* dopBytes, uint32_t dopFrames, uint8_t* out) {
  uint8_t* const start = out;
  for (uint32_t frame = 0; frame < dopFrames; ++frame) {
    const uint8_t* at = dopBytes + 6 * frame;
    // A DoP sample is [newer, older, marker]: the older byte is played first.
    const uint8_t older[2] = {at[1], at[4]};
    const uint8_t newer[2] = {at[0], at[3]};
    switch (sample_) {
      case DeviceSample::kDsdU8:
        *out++ = older[0];
        *out++ = older[1];
        *out++ = newer[0];
        *out++ = newer[1];
        break;
      case DeviceSample::kDsdU16Le:
        for (int c = 0; c < 2; ++c) {
          *out++ = newer[c];
          *out++ = older[c];
        }
        break;
      case DeviceSample::kDsdU16Be:
        for (int c = 0; c < 2; ++c) {
          *out++ = older[c];
          *out++ = newer[c];
        }
        break;
      default:  // the 32-bit formats take two DoP frames per sample
        if (!carrying_) {
          for (int c = 0; c < 2; ++c) {
            carried_[c][0] = older[c];
            carried_[c][1] = newer[c];
          }
          carrying_ = true;
          break;
        }
        carrying_ = false;
        for (int c = 0; c < 2; ++c) {
          const uint8_t bytes[4] = {carried_[c][0], carried_[c][1], older[c], newer[c]};
          for (int i = 0; i < 4; ++i) {
            *out++ = sample_ == DeviceSample::kDsdU32Be ? bytes[i] : bytes[3 - i];
          }
        }
        break;
    }
  }
  return static_cast<uint32_t>(out - start) / deviceFrameBytes();
}

uint32_t SampleConverter::silence(uint32_t wireFrames, uint8_t* out) {
  if (isNativeDsd(sample_)) {
    // One DoP frame of silence at a time keeps a carried half in its place.
    uint32_t frames = 0;
    const uint8_t idle[6] = {kDsdSilence, kDsdSilence, 0, kDsdSilence, kDsdSilence, 0};
    for (uint32_t i = 0; i < wireFrames; ++i) {
      frames += convertNative(idle, 1, out + frames * deviceFrameBytes());
    }
    return frames;
  }
  if (!dop_) {
    std::memset(out, 0, size_t{wireFrames} * deviceFrameBytes());
    return wireFrames;
  }
  for (uint32_t i = 0; i < wireFrames; ++i) {
    const uint32_t sample = (uint32_t{nextMarker_} << 24) | (uint32_t{kDsdSilence} << 16) |
                            (uint32_t{kDsdSilence} << 8);
    putPcm(sample, out);
    putPcm(sample, out);
    nextMarker_ = nextMarker_ == kDopMarkerEven ? kDopMarkerOdd : kDopMarkerEven;
  }
  return wireFrames;
}

uint32_t SampleConverter::flush(uint8_t* out) {
  if (!carrying_) return 0;
  const uint8_t idle[6] = {kDsdSilence, kDsdSilence, 0, kDsdSilence, kDsdSilence, 0};
  return convertNative(idle, 1, out);
}

}  // namespace tavro::sink
