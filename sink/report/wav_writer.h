#pragma once
// A stereo PCM WAV file written as the packets arrive. The 16-, 24- and
// 32-bit wire layouts are already WAV's interleaved little-endian samples,
// so packets go into the data chunk unchanged.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavro::sink {

// The header of a stereo WAV file holding `dataBytes` of samples: plain PCM
// for 16 bits, WAVE_FORMAT_EXTENSIBLE above, as readers expect.
std::vector<uint8_t> wavHeader(uint32_t rate, uint32_t bits, uint32_t dataBytes);

class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool open(const std::string& path, uint32_t rate, uint32_t bits);
  // False once the file cannot take more: a write failed, or the 4 GiB that
  // WAV's 32-bit sizes can describe are full (the samples beyond are left out).
  bool append(const uint8_t* data, size_t size);
  // Writes the final sizes into the header; false when that fails.
  bool close();
  bool full() const { return full_; }

 private:
  std::FILE* file_ = nullptr;
  uint32_t rate_ = 0;
  uint32_t bits_ = 0;
  uint64_t dataBytes_ = 0;
  uint64_t limit_ = 0;
  bool full_ = false;
  bool failed_ = false;
};

}  // namespace tavro::sink
