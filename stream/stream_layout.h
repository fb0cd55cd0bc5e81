#pragma once
// How one stream goes on the wire, fixed by start from the streamer's
// settings, the rate and the buffer size.
#include <cstdint>

#include "control/streamer_settings.h"
#include "stream/packing.h"

namespace tavro::stream {

struct StreamLayoutInput {
  uint32_t wordLength;   // the streamer's word length setting: 16, 24 or 32
  uint32_t sampleShift;  // the streamer's shift setting
  uint32_t transportMode;
  double sampleRate;
  int32_t bufferFrames;
};

struct StreamLayout {
  int32_t wireBits;          // 16, 24 or 32 bits per sample on the wire
  int32_t announcedRate;     // for DSD, the rate of the DoP carrier frames
  int32_t packetSizeNumber;  // frames per packet as announced
  uint32_t packetBytes;      // one packed half
  uint32_t datagramSize;     // bytes per send (TCP) or per datagram (UDP)
  uint32_t datagramsPerBuffer;
};

StreamLayout streamLayout(const StreamLayoutInput& input) noexcept;

// What the streaming thread works from, copied by start before the thread
// exists and never written while it runs: a host may ask for another rate
// or buffer size at any moment, and that applies from the next start.
struct StreamConfig {
  int32_t bufferFrames = 0;   // the sample position moves by this per half
  int32_t framesPerHalf = 0;  // words of each channel packing reads per half
  WireLayout layout = WireLayout::Pcm24;
  PcmAdjust adjust{};
  uint32_t transportMode = 0;
  uint32_t driveMode = 0;
};

StreamConfig streamConfig(const control::StreamerSettings& settings, double sampleRate,
                          int32_t bufferFrames, int32_t wireBits) noexcept;

// The largest datagram, and the sizes a larger packet is split into.
inline constexpr uint32_t kLargestDatagram = 49152;

}  // namespace tavro::stream
