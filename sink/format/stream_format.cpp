#include "sink/format/stream_format.h"

#include <algorithm>
#include <cstdio>

namespace tavro::sink {
namespace {

// A packet larger than this is no half-buffer of any driver.
constexpr uint64_t kLargestPacketBytes = 64ull << 20;
// The largest UDP payload over IPv4.
constexpr uint32_t kLargestDatagram = 65507;

}  // namespace

const char* layoutName(Layout layout) {
  switch (layout) {
    case Layout::kPcm16:
      return "pcm16";
    case Layout::kPcm24:
      return "pcm24";
    case Layout::kPcm32:
      return "pcm32";
    case Layout::kDop:
      return "dop";
  }
  return "unknown";
}

int64_t StreamFormat::tickOffsetNs(uint64_t k) const {
  if (rate == 0) return 0;
  const unsigned __int128 ns =
      static_cast<unsigned __int128>(k) * packetFrames * 1'000'000'000u / rate;
  return static_cast<int64_t>(ns);
}

std::optional<StreamFormat> parseAnnouncement(const std::string& text, bool datagrams,
                                              std::string* why) {
  auto refuse = [&](const char* reason) -> std::optional<StreamFormat> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  long long rate = 0, bits = 0, frames = 0, datagram = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "+ SampleRate %lld Bits %lld PacketSize %lld DatagramSize %lld%c",
                  &rate, &bits, &frames, &datagram, &tail) != 4) {
    return refuse("not four numbers");
  }
  if (bits != 16 && bits != 24 && bits != 32) return refuse("bits not 16, 24 or 32");
  if (rate <= 0 || rate > 0xFFFFFFFFll / 16) return refuse("rate out of range");
  if (frames <= 0) return refuse("packet size not positive");
  StreamFormat format;
  format.rate = static_cast<uint32_t>(rate);
  format.bits = static_cast<uint32_t>(bits);
  format.layout = bits == 16 ? Layout::kPcm16 : bits == 32 ? Layout::kPcm32 : Layout::kPcm24;
  const uint64_t packetBytes = static_cast<uint64_t>(frames) * format.bytesPerFrame();
  if (packetBytes > kLargestPacketBytes) return refuse("packet too large");
  format.packetFrames = static_cast<uint32_t>(frames);
  format.packetBytes = static_cast<uint32_t>(packetBytes);
  if (format.periodNs() < kShortestPeriodNs) return refuse("tick period too short");
  if (datagrams) {
    if (datagram <= 0 || datagram > kLargestDatagram || packetBytes % datagram != 0) {
      return refuse("datagram size does not divide the packet");
    }
  }
  // Over TCP a packet comes whole: a datagram size named there is no piece
  // of it, and one larger than the packet would make a packet no pieces.
  format.datagramSize = datagrams ? static_cast<uint32_t>(datagram) : format.packetBytes;
  return format;
}

bool dopPossible(const StreamFormat& format) {
  if (format.bits != 24) return false;
  switch (format.rate) {
    case 176400:
    case 352800:
    case 705600:
    case 1411200:
      return true;
    default:
      return false;
  }
}

bool looksLikeDop(const uint8_t* packet, uint32_t packetBytes) {
  const uint32_t frames = packetBytes / 6;
  uint32_t marked = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t marker = dopMarker(i);
    if (packet[6 * i + 2] == marker && packet[6 * i + 5] == marker) ++marked;
  }
  return frames > 0 && marked * 2 > frames;
}

bool startsAsDop(const uint8_t* packet, uint32_t packetBytes) {
  const uint32_t frames = std::min<uint32_t>(packetBytes / 6, 32);
  if (frames == 0) return false;
  const uint8_t first = packet[2];
  if (first != kDopMarkerEven && first != kDopMarkerOdd) return false;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t marker = (i & 1) == 0 ? first : static_cast<uint8_t>(first ^ 0xFF);
    if (packet[6 * i + 2] != marker || packet[6 * i + 5] != marker) return false;
  }
  return true;
}

}  // namespace tavro::sink
