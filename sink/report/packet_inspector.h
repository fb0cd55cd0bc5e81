#pragma once
// Checks each packet's samples: DoP markers always, and with verification
// every sample against the test signal as the wire changes it (truncation to
// the wire's bits, the streamer's own right shift, DoP packing).
#include <cstdint>
#include <optional>
#include <string>

#include "sink/format/stream_format.h"

namespace tavro::sink {

struct Mismatch {
  uint64_t packet = 0;
  uint32_t frame = 0;  // within the packet (DoP frames for DoP)
  uint32_t channel = 0;
  uint32_t expected = 0;  // the sample as the wire carries it: 16, 24 or 32 bits
  uint32_t got = 0;
};

std::string describe(const Mismatch& mismatch, Layout layout);

// The PCM sample the wire carries for `channel` at `frame` of the test
// signal, in the low `bits` bits: the arithmetic right shift by `shift`
// modulo 32, then the upper bits that fit the wire.
uint32_t expectedPcm(uint32_t bits, uint32_t shift, uint32_t channel, uint64_t frame);

// The 24-bit DoP sample for `channel` at DoP frame `dopFrame` of the stream.
uint32_t expectedDop(uint32_t channel, uint64_t dopFrame);

class PacketInspector {
 public:
  PacketInspector(const StreamFormat& format, bool verify, uint32_t shift)
      : format_(format), verify_(verify), shift_(shift) {}

  void inspect(uint64_t packetIndex, const uint8_t* packet);

  uint64_t wrongMarkers() const { return wrongMarkers_; }
  uint64_t mismatched() const { return mismatched_; }
  const std::optional<Mismatch>& firstMismatch() const { return first_; }

 private:
  void record(uint64_t packetIndex, uint32_t frame, uint32_t channel, uint32_t expected,
              uint32_t got);

  const StreamFormat format_;
  const bool verify_;
  const uint32_t shift_;
  uint64_t wrongMarkers_ = 0;
  uint64_t mismatched_ = 0;
  std::optional<Mismatch> first_;
};

}  // namespace tavro::sink
