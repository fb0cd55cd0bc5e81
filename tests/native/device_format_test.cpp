// What the sink hands a sound card, byte for byte, for every layout it can
// send there. The expected bytes are worked out by hand, not by the code.
#include "sink/output/device_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tavro::sink {
namespace {

using Bytes = std::vector<uint8_t>;

// Two DoP frames: left plays 11 22 55 66, right 33 44 77 88. A DoP sample
// is little-endian [newer DSD byte, older DSD byte, marker].
const Bytes kDop = {0x22, 0x11, 0x05, 0x44, 0x33, 0x05, 0x66, 0x55, 0xFA, 0x88, 0x77, 0xFA};

struct Row {
  const char* name;
  uint32_t wireBits;
  bool dop;
  DeviceSample sample;
  Bytes wire;
  Bytes device;
  uint32_t rateAt176400;
};

class DeviceFormatTest : public testing::TestWithParam<Row> {};

TEST_P(DeviceFormatTest, EachWireSampleReachesTheCardWithEveryBitInPlace) {
  const Row& row = GetParam();
  SampleConverter converter(row.wireBits, row.sample, row.dop);
  const uint32_t wireFrames = static_cast<uint32_t>(row.wire.size() * 8 / row.wireBits / 2);
  Bytes out(converter.deviceFramesFor(wireFrames) * converter.deviceFrameBytes());
  const uint32_t frames = converter.convert(row.wire.data(), wireFrames, out.data());
  out.resize(frames * converter.deviceFrameBytes());
  EXPECT_EQ(out, row.device);
  EXPECT_EQ(deviceRate(row.sample, 176400), row.rateAt176400);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeviceFormatTest,
                         testing::Values(Row{"Pcm16AsS16",
                                             16,
                                             false,
                                             DeviceSample::kS16Le,
                                             {0x34, 0x12, 0xCD, 0xAB},
                                             {0x34, 0x12, 0xCD, 0xAB},
                                             176400},
                                         Row{"Pcm16AsS32",
                                             16,
                                             false,
                                             DeviceSample::kS32Le,
                                             {0x34, 0x12, 0xCD, 0xAB},
                                             {0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0xCD, 0xAB},
                                             176400},
                                         Row{"Pcm16AsS24In3",
                                             16,
                                             false,
                                             DeviceSample::kS24_3Le,
                                             {0x34, 0x12, 0xCD, 0xAB},
                                             {0x00, 0x34, 0x12, 0x00, 0xCD, 0xAB},
                                             176400},
                                         Row{"Pcm16AsS24In4",
                                             16,
                                             false,
                                             DeviceSample::kS24Le,
                                             {0x34, 0x12, 0xCD, 0xAB},
                                             {0x00, 0x34, 0x12, 0x00, 0x00, 0xCD, 0xAB, 0xFF},
                                             176400},
                                         Row{"Pcm24AsS24In3",
                                             24,
                                             false,
                                             DeviceSample::kS24_3Le,
                                             {0x56, 0x34, 0x12, 0x21, 0x43, 0x85},
                                             {0x56, 0x34, 0x12, 0x21, 0x43, 0x85},
                                             176400},
                                         Row{"Pcm24AsS32",
                                             24,
                                             false,
                                             DeviceSample::kS32Le,
                                             {0x56, 0x34, 0x12, 0x21, 0x43, 0x85},
                                             {0x00, 0x56, 0x34, 0x12, 0x00, 0x21, 0x43, 0x85},
                                             176400},
                                         Row{"Pcm24AsS24In4",
                                             24,
                                             false,
                                             DeviceSample::kS24Le,
                                             {0x56, 0x34, 0x12, 0x21, 0x43, 0x85},
                                             {0x56, 0x34, 0x12, 0x00, 0x21, 0x43, 0x85, 0xFF},
                                             176400},
                                         Row{"Pcm32AsS32",
                                             32,
                                             false,
                                             DeviceSample::kS32Le,
                                             {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x80},
                                             {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x80},
                                             176400},
                                         Row{"DopPassedThroughInS32",
                                             24,
                                             true,
                                             DeviceSample::kS32Le,
                                             {0x22, 0x11, 0x05, 0x44, 0x33, 0x05},
                                             {0x00, 0x22, 0x11, 0x05, 0x00, 0x44, 0x33, 0x05},
                                             176400},
                                         Row{"DopAsDsdU8",
                                             24,
                                             true,
                                             DeviceSample::kDsdU8,
                                             kDop,
                                             {0x11, 0x33, 0x22, 0x44, 0x55, 0x77, 0x66, 0x88},
                                             352800},
                                         Row{"DopAsDsdU16Le",
                                             24,
                                             true,
                                             DeviceSample::kDsdU16Le,
                                             kDop,
                                             {0x22, 0x11, 0x44, 0x33, 0x66, 0x55, 0x88, 0x77},
                                             176400},
                                         Row{"DopAsDsdU16Be",
                                             24,
                                             true,
                                             DeviceSample::kDsdU16Be,
                                             kDop,
                                             {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
                                             176400},
                                         Row{"DopAsDsdU32Be",
                                             24,
                                             true,
                                             DeviceSample::kDsdU32Be,
                                             kDop,
                                             {0x11, 0x22, 0x55, 0x66, 0x33, 0x44, 0x77, 0x88},
                                             88200},
                                         Row{"DopAsDsdU32Le",
                                             24,
                                             true,
                                             DeviceSample::kDsdU32Le,
                                             kDop,
                                             {0x66, 0x55, 0x22, 0x11, 0x88, 0x77, 0x44, 0x33},
                                             88200}),
                         [](const testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// A 32-bit DSD sample holds two DoP frames, so a packet of an odd number of
// frames leaves one for the next packet, and the stream's end completes it
// with silence. Silence is DSD's idle pattern, or its DoP form, never zeros.
TEST(DeviceSilenceTest, AnOddFrameIsCarriedAndSilenceIsDsdSilence) {
  SampleConverter native(24, DeviceSample::kDsdU32Be, true);
  Bytes out(16);
  EXPECT_EQ(native.convert(kDop.data(), 1, out.data()), 0u);
  EXPECT_EQ(native.convert(kDop.data() + 6, 1, out.data()), 1u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8),
            (Bytes{0x11, 0x22, 0x55, 0x66, 0x33, 0x44, 0x77, 0x88}));
  EXPECT_EQ(native.convert(kDop.data(), 1, out.data()), 0u);
  EXPECT_EQ(native.flush(out.data()), 1u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8),
            (Bytes{0x11, 0x22, 0x69, 0x69, 0x33, 0x44, 0x69, 0x69}));
  EXPECT_EQ(native.flush(out.data()), 0u);

  SampleConverter bytes(24, DeviceSample::kDsdU8, true);
  EXPECT_EQ(bytes.silence(1, out.data()), 2u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x69, 0x69, 0x69, 0x69}));

  // After a packet that ends on a 0x05 marker, DoP silence goes on with 0xFA.
  SampleConverter passed(24, DeviceSample::kS24_3Le, true);
  passed.convert(kDop.data(), 1, out.data());
  EXPECT_EQ(passed.silence(2, out.data()), 2u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 12),
            (Bytes{0x69, 0x69, 0xFA, 0x69, 0x69, 0xFA, 0x69, 0x69, 0x05, 0x69, 0x69, 0x05}));
}

}  // namespace
}  // namespace tavro::sink
