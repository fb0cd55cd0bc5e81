#pragma once
// What a format announcement tells the sink about the stream that follows:
// the wire layout, the packet and datagram sizes and the tick period.
#include <cstdint>
#include <optional>
#include <string>

namespace tavro::sink {

enum class Layout { kPcm16, kPcm24, kPcm32, kDop };

// How a 24-bit stream at a DoP carrier rate is taken: by its markers, or as
// the user says.
enum class DopMode { kAuto, kOn, kOff };

const char* layoutName(Layout layout);

struct StreamFormat {
  uint32_t rate = 0;          // announced: frames (DoP frames for DSD) per second
  uint32_t bits = 0;          // announced bits per sample on the wire
  uint32_t packetFrames = 0;  // announced PacketSize: frames per packet
  uint32_t datagramSize = 0;  // announced DatagramSize; over TCP packetBytes
  uint32_t packetBytes = 0;
  Layout layout = Layout::kPcm24;  // 24-bit streams may turn out to be DoP

  uint32_t bytesPerFrame() const { return bits / 8 * 2; }
  uint32_t datagramsPerPacket() const { return packetBytes / datagramSize; }
  // Monotonic nanoseconds from the first packet to tick k: k half-buffers.
  int64_t tickOffsetNs(uint64_t k) const;
  int64_t periodNs() const { return tickOffsetNs(1); }
  // DSD rate of a DoP stream: 16 one-bit samples per DoP frame.
  uint32_t dsdRate() const { return rate * 16; }
};

// Ticks shorter than this come from a broken announcement, not from any
// buffer size a driver offers; pacing them would only flood the driver.
inline constexpr int64_t kShortestPeriodNs = 100'000;

// Reads "+ SampleRate %d Bits %d PacketSize %d DatagramSize %d". Empty, with
// the reason in `why`, when the numbers make no stream the sink can take;
// `datagrams` asks that whole datagrams make up a packet (transport mode 2).
std::optional<StreamFormat> parseAnnouncement(const std::string& text, bool datagrams,
                                              std::string* why);

// The announcement alone cannot tell DoP from 24-bit PCM at the four DoP
// carrier rates.
bool dopPossible(const StreamFormat& format);

// True when most frames of a 24-bit packet carry the alternating DoP markers
// in both channels, as DoP does and PCM almost never does.
bool looksLikeDop(const uint8_t* packet, uint32_t packetBytes);

// DoP as a card's DSD decoder knows it: the first 32 frames (all of a
// shorter packet) carry alternating 0x05/0xFA markers, the same in both
// channels. Stricter than `looksLikeDop`, since playing PCM as DSD is loud.
bool startsAsDop(const uint8_t* packet, uint32_t packetBytes);

inline constexpr uint8_t kDopMarkerEven = 0x05;  // DoP frames 0, 2, 4, ...
inline constexpr uint8_t kDopMarkerOdd = 0xFA;

inline uint8_t dopMarker(uint64_t dopFrame) {
  return (dopFrame & 1) == 0 ? kDopMarkerEven : kDopMarkerOdd;
}

}  // namespace tavro::sink
