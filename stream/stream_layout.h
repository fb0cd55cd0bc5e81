#pragma once
// How one stream goes on the wire, fixed by start from the streamer's
// settings, the rate and the buffer size.
#include <cstdint>

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

// The largest datagram, and the sizes a larger packet is split into.
inline constexpr uint32_t kLargestDatagram = 49152;

}  // namespace tavro::stream
