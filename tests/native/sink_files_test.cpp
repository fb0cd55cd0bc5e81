// The files tavro-sink writes, read back field by field: WAV for each PCM
// width and DSF with its blocks, bit order and padding.
#include <gmock/gmock.h>

#include <fstream>
#include <iterator>

#include "signal/test_signal.h"
#include "sink/report/dsf_writer.h"
#include "sink/report/wav_writer.h"
#include "support/temp_dir.h"

namespace tavro::testing {
namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t le(const std::vector<uint8_t>& bytes, size_t at, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes.at(at + i)) << (8 * i);
  return value;
}

std::string tag(const std::vector<uint8_t>& bytes, size_t at) {
  return std::string(bytes.begin() + static_cast<ptrdiff_t>(at),
                     bytes.begin() + static_cast<ptrdiff_t>(at + 4));
}

struct WavCase {
  uint32_t bits;
  uint32_t rate;
};

void PrintTo(const WavCase& c, std::ostream* out) { *out << c.bits << " bits"; }

class WavFileTest : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavFileTest, HeaderFieldsAndSamples) {
  const auto [bits, rate] = GetParam();
  TempDir dir;
  const auto path = dir / "out.wav";
  std::vector<uint8_t> samples(3 * 2 * bits / 8 * 100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
  sink::WavWriter writer;
  ASSERT_TRUE(writer.open(path.string(), rate, bits));
  ASSERT_TRUE(writer.append(samples.data(), samples.size() / 3));
  ASSERT_TRUE(writer.append(samples.data() + samples.size() / 3, samples.size() * 2 / 3));
  ASSERT_TRUE(writer.close());

  const std::vector<uint8_t> f = readFile(path);
  const bool extensible = bits > 16;
  const size_t fmtBytes = extensible ? 40 : 16;
  const size_t data = 20 + fmtBytes;
  ASSERT_EQ(f.size(), data + 8 + samples.size());
  EXPECT_EQ(tag(f, 0), "RIFF");
  EXPECT_EQ(le(f, 4, 4), f.size() - 8);
  EXPECT_EQ(tag(f, 8), "WAVE");
  EXPECT_EQ(tag(f, 12), "fmt ");
  EXPECT_EQ(le(f, 16, 4), fmtBytes);
  EXPECT_EQ(le(f, 20, 2), extensible ? 0xFFFEu : 1u);  // format tag
  EXPECT_EQ(le(f, 22, 2), 2u);                         // channels
  EXPECT_EQ(le(f, 24, 4), rate);
  EXPECT_EQ(le(f, 28, 4), rate * bits / 4);  // bytes per second
  EXPECT_EQ(le(f, 32, 2), bits / 4);         // block align
  EXPECT_EQ(le(f, 34, 2), bits);
  if (extensible) {
    EXPECT_EQ(le(f, 36, 2), 22u);   // extension size
    EXPECT_EQ(le(f, 38, 2), bits);  // valid bits
    EXPECT_EQ(le(f, 40, 4), 3u);    // front left, front right
    EXPECT_EQ(le(f, 44, 4), 1u);    // the PCM sub-format GUID
    EXPECT_EQ(le(f, 48, 4), 0x00100000u);
    EXPECT_EQ(le(f, 52, 4), 0xAA000080u);
    EXPECT_EQ(le(f, 56, 4), 0x719B3800u);
  }
  EXPECT_EQ(tag(f, data), "data");
  EXPECT_EQ(le(f, data + 4, 4), samples.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), f.begin() + data + 8));
}

INSTANTIATE_TEST_SUITE_P(Widths, WavFileTest,
                         ::testing::Values(WavCase{16, 44100}, WavCase{24, 96000},
                                           WavCase{32, 352800}),
                         [](const auto& info) { return std::to_string(info.param.bits); });

uint8_t lsbFirst(uint8_t timeOrdered) {
  uint8_t out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((timeOrdered >> (7 - bit)) & 1) out = static_cast<uint8_t>(out | (1 << bit));
  }
  return out;
}

TEST(DsfFileTest, HeaderFieldsBlocksBitOrderAndPadding) {
  TempDir dir;
  const auto path = dir / "out.dsf";
  constexpr size_t kBytes = 5000;  // per channel: one whole block and part of a second
  std::vector<uint8_t> left(kBytes), right(kBytes);
  for (size_t i = 0; i < kBytes; ++i) {
    left[i] = signal::dsdByte(0, i);
    right[i] = signal::dsdByte(1, i);
  }
  sink::DsfWriter writer;
  ASSERT_TRUE(writer.open(path.string(), 5644800));
  ASSERT_TRUE(writer.append(left.data(), right.data(), 1000));
  ASSERT_TRUE(writer.append(left.data() + 1000, right.data() + 1000, kBytes - 1000));
  ASSERT_TRUE(writer.close());

  const std::vector<uint8_t> f = readFile(path);
  constexpr size_t kBlock = 4096;
  ASSERT_EQ(f.size(), 92 + 4 * kBlock);
  EXPECT_EQ(tag(f, 0), "DSD ");
  EXPECT_EQ(le(f, 4, 8), 28u);
  EXPECT_EQ(le(f, 12, 8), f.size());
  EXPECT_EQ(le(f, 20, 8), 0u);  // no metadata
  EXPECT_EQ(tag(f, 28), "fmt ");
  EXPECT_EQ(le(f, 32, 8), 52u);
  EXPECT_EQ(le(f, 40, 4), 1u);  // format version
  EXPECT_EQ(le(f, 44, 4), 0u);  // DSD raw
  EXPECT_EQ(le(f, 48, 4), 2u);  // stereo
  EXPECT_EQ(le(f, 52, 4), 2u);  // channels
  EXPECT_EQ(le(f, 56, 4), 5644800u);
  EXPECT_EQ(le(f, 60, 4), 1u);  // least significant bit first
  EXPECT_EQ(le(f, 64, 8), kBytes * 8);
  EXPECT_EQ(le(f, 72, 4), kBlock);
  EXPECT_EQ(le(f, 76, 4), 0u);
  EXPECT_EQ(tag(f, 80), "data");
  EXPECT_EQ(le(f, 84, 8), 12 + 4 * kBlock);

  // Left block, right block, then the second pair, padded with zeros.
  const std::vector<uint8_t>* channels[2] = {&left, &right};
  size_t wrong = 0;
  for (size_t block = 0; block < 2; ++block) {
    for (size_t channel = 0; channel < 2; ++channel) {
      const size_t at = 92 + (2 * block + channel) * kBlock;
      for (size_t i = 0; i < kBlock; ++i) {
        const size_t n = block * kBlock + i;
        const uint8_t expected = n < kBytes ? lsbFirst((*channels[channel])[n]) : 0;
        if (f[at + i] != expected) ++wrong;
      }
    }
  }
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace tavro::testing
