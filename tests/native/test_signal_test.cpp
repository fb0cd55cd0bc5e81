// The test signal can only catch what it exercises: every bit of a sample
// and of a DSD byte takes both values, the extremes occur, and the two
// channels never carry the same sample, so a swap shows in every frame.
#include "signal/test_signal.h"

#include <gmock/gmock.h>

namespace tavro::testing {
namespace {

constexpr uint64_t kFrames = 1 << 16;

TEST(TestSignalTest, ExercisesEveryBitAndTellsTheChannelsApart) {
  for (uint32_t channel = 0; channel < 2; ++channel) {
    SCOPED_TRACE(channel);
    uint32_t anyOne = 0, anyZero = 0;
    uint8_t dsdOne = 0, dsdZero = 0;
    int extremes = 0;
    for (uint64_t n = 0; n < kFrames; ++n) {
      const auto word = static_cast<uint32_t>(signal::pcmSample(channel, n));
      anyOne |= word;
      anyZero |= ~word;
      if (word == 0x80000000u || word == 0x7FFFFFFFu || word == 0 || word == 0xFFFFFFFFu) {
        ++extremes;
      }
      ASSERT_NE(signal::pcmSample(channel, n), signal::pcmSample(1 - channel, n)) << n;
      dsdOne |= signal::dsdByte(channel, n);
      dsdZero |= static_cast<uint8_t>(~signal::dsdByte(channel, n));
    }
    EXPECT_EQ(anyOne, 0xFFFFFFFFu);
    EXPECT_EQ(anyZero, 0xFFFFFFFFu);
    EXPECT_EQ(dsdOne, 0xFF);
    EXPECT_EQ(dsdZero, 0xFF);
    EXPECT_GE(extremes, static_cast<int>(kFrames / 16));
  }
  int sameDsd = 0;
  for (uint64_t n = 0; n < kFrames; ++n) sameDsd += signal::dsdByte(0, n) == signal::dsdByte(1, n);
  EXPECT_LT(sameDsd, static_cast<int>(kFrames / 128));  // by chance one in 256
}

}  // namespace
}  // namespace tavro::testing
