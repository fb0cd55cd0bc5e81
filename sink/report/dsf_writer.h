#pragma once
// A stereo DSF file written as DoP packets arrive: the DSD chunk, the fmt
// chunk and the data chunk, the samples in blocks of 4096 bytes per channel
// (left block, right block, left block, ...), each byte least significant
// bit first in time.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavro::sink {

inline constexpr uint32_t kDsfBlockBytes = 4096;
inline constexpr uint32_t kDsfHeaderBytes = 28 + 52 + 12;

// The three chunk headers for `samplesPerChannel` one-bit samples at
// `dsdRate` Hz, with `dataBytes` of blocks (padding included) after them.
std::vector<uint8_t> dsfHeader(uint32_t dsdRate, uint64_t samplesPerChannel, uint64_t dataBytes);

// A byte with its bit order reversed: DoP carries the earliest sample in the
// most significant bit, DSF (1 bit per sample) in the least.
uint8_t reverseBits(uint8_t byte);

class DsfWriter {
 public:
  DsfWriter() = default;
  ~DsfWriter();
  DsfWriter(const DsfWriter&) = delete;
  DsfWriter& operator=(const DsfWriter&) = delete;

  bool open(const std::string& path, uint32_t dsdRate);
  // `count` DSD bytes of each channel, earliest first, earliest sample in the
  // most significant bit.
  bool append(const uint8_t* left, const uint8_t* right, size_t count);
  // Pads the last blocks with zeros and writes the final sizes.
  bool close();

 private:
  bool flushBlocks();

  std::FILE* file_ = nullptr;
  uint32_t dsdRate_ = 0;
  uint64_t bytesPerChannel_ = 0;
  uint64_t dataBytes_ = 0;
  uint32_t filled_ = 0;
  std::array<std::array<uint8_t, kDsfBlockBytes>, 2> blocks_{};
  bool failed_ = false;
};

}  // namespace tavro::sink
