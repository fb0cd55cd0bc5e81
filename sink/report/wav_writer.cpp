#include "sink/report/wav_writer.h"

#include "sink/report/byte_order.h"

namespace tavro::sink {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint16_t kChannels = 2;
constexpr uint32_t kFrontLeftRight = 0x3;
// KSDATAFORMAT_SUBTYPE_PCM: {00000001-0000-0010-8000-00AA00389B71}, as stored.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

std::vector<uint8_t> wavHeader(uint32_t rate, uint32_t bits, uint32_t dataBytes) {
  const bool extensible = bits > 16;
  const uint32_t fmtBytes = extensible ? 40 : 16;
  const uint16_t blockAlign = static_cast<uint16_t>(kChannels * bits / 8);
  std::vector<uint8_t> out;
  putTag(out, "RIFF");
  putLe32(out, 4 + (8 + fmtBytes) + (8 + dataBytes));
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  putLe32(out, fmtBytes);
  putLe16(out, extensible ? kFormatExtensible : kFormatPcm);
  putLe16(out, kChannels);
  putLe32(out, rate);
  putLe32(out, rate * blockAlign);
  putLe16(out, blockAlign);
  putLe16(out, static_cast<uint16_t>(bits));
  if (extensible) {
    putLe16(out, 22);                           // bytes of extension that follow
    putLe16(out, static_cast<uint16_t>(bits));  // valid bits per sample
    putLe32(out, kFrontLeftRight);
    for (const uint8_t byte : kPcmSubFormat) out.push_back(byte);
  }
  putTag(out, "data");
  putLe32(out, dataBytes);
  return out;
}

WavWriter::~WavWriter() { close(); }

bool WavWriter::open(const std::string& path, uint32_t rate, uint32_t bits) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  rate_ = rate;
  bits_ = bits;
  dataBytes_ = 0;
  full_ = failed_ = false;
  const std::vector<uint8_t> header = wavHeader(rate, bits, 0);
  // The RIFF size must still fit 32 bits with the header counted; whole frames only.
  const uint64_t frameBytes = 2ull * bits / 8;
  limit_ = (0xFFFFFFFFull - header.size()) / frameBytes * frameBytes;
  failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
  return !failed_;
}

bool WavWriter::append(const uint8_t* data, size_t size) {
  if (file_ == nullptr || failed_ || full_) return false;
  if (dataBytes_ + size > limit_) {
    size = static_cast<size_t>(limit_ - dataBytes_);
    full_ = true;
  }
  if (std::fwrite(data, 1, size, file_) != size) failed_ = true;
  dataBytes_ += size;
  return !failed_ && !full_;
}

bool WavWriter::close() {
  if (file_ == nullptr) return true;
  const std::vector<uint8_t> header = wavHeader(rate_, bits_, static_cast<uint32_t>(dataBytes_));
  bool good = !failed_ && std::fseek(file_, 0, SEEK_SET) == 0 &&
              std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  good = std::fclose(file_) == 0 && good;
  file_ = nullptr;
  return good;
}

}  // namespace tavro::sink
