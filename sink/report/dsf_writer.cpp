#include "sink/report/dsf_writer.h"

#include <algorithm>

#include "sink/report/byte_order.h"

namespace tavro::sink {
namespace {

constexpr uint64_t kDsdChunkBytes = 28;
constexpr uint64_t kFmtChunkBytes = 52;
constexpr uint32_t kFormatVersion = 1;
constexpr uint32_t kFormatDsdRaw = 0;
constexpr uint32_t kChannelTypeStereo = 2;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kBitsLsbFirst = 1;

}  // namespace

std::vector<uint8_t> dsfHeader(uint32_t dsdRate, uint64_t samplesPerChannel, uint64_t dataBytes) {
  std::vector<uint8_t> out;
  putTag(out, "DSD ");
  putLe64(out, kDsdChunkBytes);
  putLe64(out, kDsfHeaderBytes + dataBytes);  // the whole file
  putLe64(out, 0);                            // no metadata chunk
  putTag(out, "fmt ");
  putLe64(out, kFmtChunkBytes);
  putLe32(out, kFormatVersion);
  putLe32(out, kFormatDsdRaw);
  putLe32(out, kChannelTypeStereo);
  putLe32(out, kChannels);
  putLe32(out, dsdRate);
  putLe32(out, kBitsLsbFirst);
  putLe64(out, samplesPerChannel);
  putLe32(out, kDsfBlockBytes);
  putLe32(out, 0);  // reserved
  putTag(out, "data");
  putLe64(out, 12 + dataBytes);
  return out;
}

uint8_t reverseBits(uint8_t byte) {
  byte = static_cast<uint8_t>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
  byte = static_cast<uint8_t>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
  return static_cast<uint8_t>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
}

DsfWriter::~DsfWriter() { close(); }

bool DsfWriter::open(const std::string& path, uint32_t dsdRate) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  dsdRate_ = dsdRate;
  bytesPerChannel_ = dataBytes_ = 0;
  filled_ = 0;
  const std::vector<uint8_t> header = dsfHeader(dsdRate, 0, 0);
  failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
  return !failed_;
}

bool DsfWriter::flushBlocks() {
  for (const auto& block : blocks_) {
    if (std::fwrite(block.data(), 1, block.size(), file_) != block.size()) failed_ = true;
  }
  dataBytes_ += kChannels * kDsfBlockBytes;
  filled_ = 0;
  return !failed_;
}

bool DsfWriter::append(const uint8_t* left, const uint8_t* right, size_t count) {
  if (file_ == nullptr || failed_) return false;
  for (size_t i = 0; i < count; ++i) {
    blocks_[0][filled_] = reverseBits(left[i]);
    blocks_[1][filled_] = reverseBits(right[i]);
    if (++filled_ == kDsfBlockBytes && !flushBlocks()) return false;
  }
  bytesPerChannel_ += count;
  return true;
}

bool DsfWriter::close() {
  if (file_ == nullptr) return true;
  if (filled_ > 0 && !failed_) {
    for (auto& block : blocks_) std::fill(block.begin() + filled_, block.end(), uint8_t{0});
    flushBlocks();
  }
  const std::vector<uint8_t> header = dsfHeader(dsdRate_, bytesPerChannel_ * 8, dataBytes_);
  bool good = !failed_ && std::fseek(file_, 0, SEEK_SET) == 0 &&
              std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  good = std::fclose(file_) == 0 && good;
  file_ = nullptr;
  return good;
}

}  // namespace tavro::sink
