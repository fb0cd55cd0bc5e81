#include "sink/output/device_format.h"

#include <array>
#include <cstring>

#include "sink/format/stream_format.h"

namespace tavro::sink {
namespace {

constexpr std::array kPcm16{DeviceSample::kS16Le, DeviceSample::kS32Le, DeviceSample::kS24_3Le,
                            DeviceSample::kS24Le};
constexpr std::array kPcm24{DeviceSample::kS24_3Le, DeviceSample::kS32Le, DeviceSample::kS24Le};
constexpr std::array kPcm32{DeviceSample::kS32Le};
// Wider containers first: fewer, larger transfers for the same bits.
constexpr std::array kDsd{DeviceSample::kDsdU32Be, DeviceSample::kDsdU32Le, DeviceSample::kDsdU16Be,
                          DeviceSample::kDsdU16Le, DeviceSample::kDsdU8};

using Conversion = SampleConverter::Conversion;

template <uint32_t Bytes>
uint32_t readLe(const uint8_t* at) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < Bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

// A sample moved to the top of 32 bits, into the device's container.
template <DeviceSample Sample>
void putPcm(uint32_t leftJustified, uint8_t*& out) {
  uint32_t value = leftJustified;
  if constexpr (Sample == DeviceSample::kS16Le) value >>= 16;
  if constexpr (Sample == DeviceSample::kS24_3Le) value >>= 8;
  // The container's top byte repeats the sign, as a card reading the low 24
  // bits or the whole word both expect.
  if constexpr (Sample == DeviceSample::kS24Le) {
    value = static_cast<uint32_t>(static_cast<int32_t>(value) >> 8);
  }
  constexpr uint32_t kBytes = Sample == DeviceSample::kS16Le     ? 2
                              : Sample == DeviceSample::kS24_3Le ? 3
                                                                 : 4;
  for (uint32_t i = 0; i < kBytes; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
}

template <uint32_t WireBytes, DeviceSample Sample>
uint32_t pcm(const uint8_t* wire, uint32_t frames, uint8_t* out, DsdCarry& /*carry*/) {
  for (uint32_t i = 0; i < 2 * frames; ++i) {
    putPcm<Sample>(readLe<WireBytes>(wire + i * WireBytes) << (32 - 8 * WireBytes), out);
  }
  return frames;
}

// A DoP sample is [newer, older, marker]: the older byte is played first.
template <DeviceSample Sample>
uint32_t native(const uint8_t* dop, uint32_t frames, uint8_t* out, DsdCarry& carry) {
  uint8_t* const start = out;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    const uint8_t* at = dop + 6 * frame;
    const uint8_t older[2] = {at[1], at[4]};
    const uint8_t newer[2] = {at[0], at[3]};
    if constexpr (Sample == DeviceSample::kDsdU8) {
      *out++ = older[0];
      *out++ = older[1];
      *out++ = newer[0];
      *out++ = newer[1];
    } else if constexpr (Sample == DeviceSample::kDsdU16Le || Sample == DeviceSample::kDsdU16Be) {
      constexpr bool kBig = Sample == DeviceSample::kDsdU16Be;
      for (int c = 0; c < 2; ++c) {
        *out++ = kBig ? older[c] : newer[c];
        *out++ = kBig ? newer[c] : older[c];
      }
    } else {  // the 32-bit formats take two DoP frames per sample
      if (!carry.carrying) {
        for (int c = 0; c < 2; ++c) {
          carry.bytes[c][0] = older[c];
          carry.bytes[c][1] = newer[c];
        }
        carry.carrying = true;
        continue;
      }
      carry.carrying = false;
      for (int c = 0; c < 2; ++c) {
        const uint8_t bytes[4] = {carry.bytes[c][0], carry.bytes[c][1], older[c], newer[c]};
        for (int i = 0; i < 4; ++i) {
          *out++ = Sample == DeviceSample::kDsdU32Be ? bytes[i] : bytes[3 - i];
        }
      }
    }
  }
  return static_cast<uint32_t>(out - start) / (2 * sampleBytes(Sample));
}

constexpr size_t kSamples = static_cast<size_t>(DeviceSample::kDsdU32Be) + 1;
using S = DeviceSample;

// [wire bytes - 2][device sample]: null where the container would narrow
// the wire's sample, and for DSD, which only DoP (below) reaches.
constexpr Conversion kPcmTable[3][kSamples] = {
    {pcm<2, S::kS16Le>, pcm<2, S::kS24_3Le>, pcm<2, S::kS24Le>, pcm<2, S::kS32Le>},
    {nullptr, pcm<3, S::kS24_3Le>, pcm<3, S::kS24Le>, pcm<3, S::kS32Le>},
    {nullptr, nullptr, nullptr, pcm<4, S::kS32Le>},
};
// DoP to each native DSD format, by device sample.
constexpr Conversion kDopTable[kSamples] = {
    nullptr,           nullptr,           nullptr,           nullptr,           native<S::kDsdU8>,
    native<S::kDsdU16Le>, native<S::kDsdU16Be>, native<S::kDsdU32Le>, native<S::kDsdU32Be>,
};

Conversion choose(uint32_t wireBits, DeviceSample sample, bool dop) {
  const auto column = static_cast<size_t>(sample);
  if (isNativeDsd(sample)) return dop && wireBits == 24 ? kDopTable[column] : nullptr;
  if (wireBits != 16 && wireBits != 24 && wireBits != 32) return nullptr;
  return kPcmTable[wireBits / 8 - 2][column];
}

// DSD's idle pattern in one DoP frame, as the wire would carry it.
void idleDop(uint8_t marker, uint8_t (&frame)[6]) {
  frame[0] = frame[1] = frame[3] = frame[4] = kDsdSilence;
  frame[2] = frame[5] = marker;
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
    : wireBits_(wireBits), sample_(sample), dop_(dop), conversion_(choose(wireBits, sample, dop)) {}

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

uint32_t SampleConverter::convert(const uint8_t* wire, uint32_t wireFrames, uint8_t* out) {
  if (conversion_ == nullptr) return 0;
  const uint32_t frames = conversion_(wire, wireFrames, out, carry_);
  if (dop_ && !isNativeDsd(sample_) && wireFrames > 0) {
    const uint8_t last = wire[(2 * wireFrames - 1) * 3 + 2];
    nextMarker_ = last == kDopMarkerEven ? kDopMarkerOdd : kDopMarkerEven;
  }
  return frames;
}

uint32_t SampleConverter::silence(uint32_t wireFrames, uint8_t* out) {
  if (conversion_ == nullptr) return 0;
  if (!dop_) {
    std::memset(out, 0, size_t{wireFrames} * deviceFrameBytes());
    return wireFrames;
  }
  // One DoP frame of silence at a time: the markers go on alternating, and a
  // carried half stays in its place.
  uint32_t frames = 0;
  uint8_t idle[6];
  for (uint32_t i = 0; i < wireFrames; ++i) {
    idleDop(nextMarker_, idle);
    frames += conversion_(idle, 1, out + size_t{frames} * deviceFrameBytes(), carry_);
    nextMarker_ = nextMarker_ == kDopMarkerEven ? kDopMarkerOdd : kDopMarkerEven;
  }
  return frames;
}

uint32_t SampleConverter::flush(uint8_t* out) {
  if (!carry_.carrying || conversion_ == nullptr) return 0;
  uint8_t idle[6];
  idleDop(0, idle);
  return conversion_(idle, 1, out, carry_);
}

}  // namespace tavro::sink
