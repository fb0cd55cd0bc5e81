#include "play/audio_source.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "signal/test_signal.h"

namespace tavro::play {
namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t{le32(p + 4)} << 32; }

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

class TestSignal final : public AudioSource {
 public:
  explicit TestSignal(bool dsd) : dsd_(dsd) {}
  bool isDsd() const override { return dsd_; }
  double nativeRate() const override { return 0; }
  bool finished() const override { return false; }
  std::string describe() const override {
    return dsd_ ? "test signal (DSD)" : "test signal (32-bit PCM)";
  }
  void fill(uint32_t* left, uint32_t* right, int32_t words) override {
    uint32_t* channels[2] = {left, right};
    for (uint32_t c = 0; c < 2; ++c) {
      for (int32_t w = 0; w < words; ++w) {
        if (dsd_) {
          uint8_t bytes[4];
          for (uint32_t k = 0; k < 4; ++k) bytes[k] = signal::dsdByte(c, (next_ + w) * 4 + k);
          std::memcpy(&channels[c][w], bytes, 4);
        } else {
          channels[c][w] = static_cast<uint32_t>(signal::pcmSample(c, next_ + w));
        }
      }
    }
    next_ += static_cast<uint64_t>(words);
  }

 private:
  bool dsd_;
  uint64_t next_ = 0;  // words of each channel filled so far
};

// Whole words of both channels, filled in turn and then silence.
class Recording final : public AudioSource {
 public:
  Recording(bool dsd, double rate, std::vector<uint32_t> left, std::vector<uint32_t> right,
            std::string description)
      : dsd_(dsd),
        rate_(rate),
        channels_{std::move(left), std::move(right)},
        description_(std::move(description)) {}
  bool isDsd() const override { return dsd_; }
  double nativeRate() const override { return rate_; }
  bool finished() const override { return next_ >= channels_[0].size(); }
  std::string describe() const override { return description_; }
  void fill(uint32_t* left, uint32_t* right, int32_t words) override {
    // DSD silence is the alternating pattern, not zeros.
    const uint32_t silence = dsd_ ? 0x69696969u : 0u;
    uint32_t* out[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
      for (int32_t w = 0; w < words; ++w) {
        const size_t at = next_ + static_cast<size_t>(w);
        out[c][w] = at < channels_[c].size() ? channels_[c][at] : silence;
      }
    }
    next_ += static_cast<size_t>(words);
  }

 private:
  bool dsd_;
  double rate_;
  std::vector<uint32_t> channels_[2];
  std::string description_;
  size_t next_ = 0;
};

uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

std::unique_ptr<AudioSource> makeTestSignal(bool dsd) { return std::make_unique<TestSignal>(dsd); }

std::unique_ptr<AudioSource> loadWav(const std::string& path, std::string& error) {
  std::vector<uint8_t> file;
  if (!readFile(path, file, error)) return nullptr;
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    error = path + " is not a WAV file";
    return nullptr;
  }
  uint16_t format = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  const uint8_t* data = nullptr;
  size_t dataBytes = 0;
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = le32(&file[at + 4]);
    const uint8_t* body = &file[at + 8];
    const size_t available = file.size() - at - 8;
    if (std::memcmp(&file[at], "fmt ", 4) == 0 && size >= 16 && available >= 16) {
      format = le16(body);
      channels = le16(body + 2);
      rate = le32(body + 4);
      bits = le16(body + 14);
      if (format == 0xFFFE && size >= 26 && available >= 26) format = le16(body + 24);
    } else if (std::memcmp(&file[at], "data", 4) == 0) {
      data = body;
      dataBytes = size < available ? size : available;
      break;
    }
    at += 8 + size + (size & 1);
  }
  if (format != 1 || (bits != 16 && bits != 24 && bits != 32) || channels < 1 || channels > 2 ||
      data == nullptr) {
    error = path + ": only 16-, 24- or 32-bit PCM WAV files with one or two channels play";
    return nullptr;
  }
  const size_t bytesPerSample = bits / 8;
  const size_t frames = dataBytes / (bytesPerSample * channels);
  std::vector<uint32_t> left(frames), right(frames);
  for (size_t f = 0; f < frames; ++f) {
    for (size_t c = 0; c < 2; ++c) {
      const uint8_t* sample = data + (f * channels + (c < channels ? c : 0)) * bytesPerSample;
      uint32_t word = 0;
      for (size_t b = 0; b < bytesPerSample; ++b) word |= uint32_t{sample[b]} << (8 * b);
      (c == 0 ? left : right)[f] = word << (32 - bits);
    }
  }
  return std::make_unique<Recording>(
      false, rate, std::move(left), std::move(right),
      path + " (" + std::to_string(bits) + "-bit PCM, " + std::to_string(rate) + " Hz)");
}

std::unique_ptr<AudioSource> loadDsf(const std::string& path, std::string& error) {
  std::vector<uint8_t> file;
  if (!readFile(path, file, error)) return nullptr;
  // "DSD " chunk (28 bytes), "fmt " chunk (52 bytes), then "data" (12 + samples).
  constexpr size_t kFmt = 28, kData = 80;
  if (file.size() < kData + 12 || std::memcmp(file.data(), "DSD ", 4) != 0 ||
      std::memcmp(&file[kFmt], "fmt ", 4) != 0 || std::memcmp(&file[kData], "data", 4) != 0) {
    error = path + " is not a DSF file";
    return nullptr;
  }
  const uint32_t channels = le32(&file[kFmt + 24]);
  const uint32_t rate = le32(&file[kFmt + 28]);
  const uint32_t bitsPerSample = le32(&file[kFmt + 32]);
  const uint64_t samples = le64(&file[kFmt + 36]);
  const uint32_t block = le32(&file[kFmt + 44]);
  if (channels < 1 || channels > 2 || block == 0 || (bitsPerSample != 1 && bitsPerSample != 8)) {
    error = path + ": only one- or two-channel DSF files play";
    return nullptr;
  }
  const uint8_t* data = &file[kData + 12];
  const size_t dataBytes = file.size() - kData - 12;
  const size_t bytesPerChannel = static_cast<size_t>(samples / 8);
  std::vector<uint8_t> streams[2];
  for (size_t at = 0; at + size_t{block} * channels <= dataBytes; at += size_t{block} * channels) {
    for (uint32_t c = 0; c < 2; ++c) {
      const uint8_t* from = data + at + size_t{block} * (c < channels ? c : 0);
      for (uint32_t b = 0; b < block && streams[c].size() < bytesPerChannel; ++b) {
        // DSF keeps the earliest sample in the lowest bit; ASIO in the highest.
        streams[c].push_back(bitsPerSample == 1 ? reverseBits(from[b]) : from[b]);
      }
    }
  }
  std::vector<uint32_t> words[2];
  for (int c = 0; c < 2; ++c) {
    words[c].resize(streams[c].size() / 4);
    std::memcpy(words[c].data(), streams[c].data(), words[c].size() * 4);
  }
  return std::make_unique<Recording>(true, rate, std::move(words[0]), std::move(words[1]),
                                     path + " (DSD, " + std::to_string(rate) + " Hz)");
}

}  // namespace tavro::play
