#include "sink/report/packet_inspector.h"

#include <cstdio>

#include "signal/test_signal.h"

namespace tavro::sink {
namespace {

uint32_t readLe(const uint8_t* at, uint32_t bytes) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

}  // namespace

std::string describe(const Mismatch& m, Layout layout) {
  const int digits = layout == Layout::kPcm16 ? 4 : layout == Layout::kPcm32 ? 8 : 6;
  char text[160];
  std::snprintf(text, sizeof text,
                "first mismatch: packet %llu frame %u channel %u expected 0x%0*X got 0x%0*X",
                static_cast<unsigned long long>(m.packet), m.frame, m.channel, digits, m.expected,
                digits, m.got);
  return text;
}

uint32_t expectedPcm(uint32_t bits, uint32_t shift, uint32_t channel, uint64_t frame) {
  const int32_t shifted = signal::pcmSample(channel, frame) >> (shift % 32);
  const auto word = static_cast<uint32_t>(shifted);
  if (bits == 16) return word >> 16;
  if (bits == 24) return word >> 8;
  return word;
}

uint32_t expectedDop(uint32_t channel, uint64_t dopFrame) {
  // DoP frame m carries DSD bytes 2m (earlier, middle byte) and 2m + 1.
  return static_cast<uint32_t>(dopMarker(dopFrame)) << 16 |
         static_cast<uint32_t>(signal::dsdByte(channel, 2 * dopFrame)) << 8 |
         signal::dsdByte(channel, 2 * dopFrame + 1);
}

void PacketInspector::record(uint64_t packetIndex, uint32_t frame, uint32_t channel,
                             uint32_t expected, uint32_t got) {
  ++mismatched_;
  if (!first_) first_ = Mismatch{packetIndex, frame, channel, expected, got};
}

void PacketInspector::inspect(uint64_t packetIndex, const uint8_t* packet) {
  const uint32_t frames = format_.packetFrames;
  const uint32_t sampleBytes = format_.bits / 8;
  const uint64_t firstFrame = packetIndex * frames;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    for (uint32_t channel = 0; channel < 2; ++channel) {
      const uint8_t* at = packet + (2 * frame + channel) * sampleBytes;
      const uint32_t got = readLe(at, sampleBytes);
      if (format_.layout == Layout::kDop) {
        const uint32_t expected = expectedDop(channel, firstFrame + frame);
        if ((got >> 16) != (expected >> 16)) ++wrongMarkers_;
        // A wrong marker is counted on its own; the DSD bits are the sample.
        if (verify_ && (got & 0xFFFF) != (expected & 0xFFFF)) {
          record(packetIndex, frame, channel, expected, got);
        }
      } else if (verify_) {
        const uint32_t expected = expectedPcm(format_.bits, shift_, channel, firstFrame + frame);
        if (got != expected) record(packetIndex, frame, channel, expected, got);
      }
    }
  }
}

}  // namespace tavro::sink
