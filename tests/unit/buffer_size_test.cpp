// The offered buffer size and the DSD rate rules that buffers, start and
// packing must agree on.
#include "driver/buffer_size.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "stream/dsd_rates.h"

namespace tavro::driver {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct RateCase {
  double rate;
  int shift;
};

// Both sides of every boundary: the four DSD steps include their rate, the
// PCM steps begin just above theirs.
const std::vector<RateCase> kRateCases = {
    {kNaN, 0},       {-kInfinity, 0}, {-44100.0, 0},   {0.0, 0},         {44100.0, 0},
    {80000.0, 0},    {80000.001, 1},  {88200.0, 1},    {170000.0, 1},    {176400.0, 2},
    {340000.0, 2},   {352800.0, 3},   {680000.0, 3},   {705600.0, 4},    {1500000.0, 4},
    {1500000.5, 5},  {1536000.0, 5},  {2000000.0, 5},  {2822399.999, 5}, {2822400.0, 6},
    {5644799.0, 6},  {5644800.0, 7},  {11289599.0, 7}, {11289600.0, 8},  {22579199.0, 8},
    {22579200.0, 9}, {1e12, 9},       {kInfinity, 9},
};

TEST(BufferSizeTest, EveryTableEntryScalesByTheRateStepItFallsIn) {
  for (uint32_t index = 0; index < kBufferSizeTable.size(); ++index) {
    for (const RateCase& c : kRateCases) {
      SCOPED_TRACE(::testing::Message() << "index " << index << " rate " << c.rate);
      EXPECT_EQ(rateFactorShift(c.rate), c.shift);
      EXPECT_EQ(bufferSizeFor(index, c.rate), kBufferSizeTable[index] << c.shift);
    }
  }
}

TEST(BufferSizeTest, KnownSizesComeOutExactly) {
  EXPECT_EQ(bufferSizeFor(1, 44100.0), 64);
  EXPECT_EQ(bufferSizeFor(0, 176400.0), 192);
  EXPECT_EQ(bufferSizeFor(0, 80000.0), 48);
  EXPECT_EQ(bufferSizeFor(0, 1500000.0), 48 * 16);
  EXPECT_EQ(bufferSizeFor(0, 2822400.0), 48 * 64);
  EXPECT_EQ(bufferSizeFor(9, 22579200.0), 12582912);
}

TEST(BufferSizeTest, AnIndexPastTheTableUsesTheFallbackEntry) {
  EXPECT_EQ(bufferSizeFor(10, 44100.0), 1536);
  EXPECT_EQ(bufferSizeFor(0xFFFFFFFFu, 88200.0), 3072);
}

struct DsdBoundaryCase {
  double rate;
  asio::AsioSampleType type;
  bool gap;
};

TEST(DsdRatesTest, ChannelTypeAndTheRefusedGapFollowTheTwoBoundaries) {
  const DsdBoundaryCase cases[] = {
      {44100.0, asio::kInt32Lsb, false},      {1536000.0, asio::kInt32Lsb, false},
      {2000000.0, asio::kInt32Lsb, false},    {2000000.001, asio::kDsdInt8Msb1, true},
      {2400000.0, asio::kDsdInt8Msb1, true},  {2822399.999, asio::kDsdInt8Msb1, true},
      {2822400.0, asio::kDsdInt8Msb1, false}, {22579200.0, asio::kDsdInt8Msb1, false},
      {kNaN, asio::kInt32Lsb, false},
  };
  for (const DsdBoundaryCase& c : cases) {
    SCOPED_TRACE(c.rate);
    EXPECT_EQ(stream::channelSampleType(c.rate), c.type);
    EXPECT_EQ(stream::isUnsupportedDsdGap(c.rate), c.gap);
  }
}

// Packing reads framesPerHalf words at an offset of one such half; createBuffers
// makes halves of bufferWordsPerHalf words. At every offered size outside the
// refused gap the two must agree and cover whole groups of four frames.
TEST(DsdRatesTest, BuffersHoldExactlyTheHalvesPackingReadsOutsideTheGap) {
  for (const RateCase& c : kRateCases) {
    if (std::isnan(c.rate) || c.rate <= 0.0) continue;
    for (uint32_t index = 0; index < kBufferSizeTable.size(); ++index) {
      SCOPED_TRACE(::testing::Message() << "index " << index << " rate " << c.rate);
      const int32_t size = bufferSizeFor(index, c.rate);
      const int32_t read = stream::framesPerHalf(size, c.rate);
      EXPECT_EQ(read % 4, 0);
      if (stream::isUnsupportedDsdGap(c.rate)) {
        EXPECT_NE(stream::bufferWordsPerHalf(size, c.rate), read);
      } else {
        EXPECT_EQ(stream::bufferWordsPerHalf(size, c.rate), read);
      }
    }
  }
}

}  // namespace
}  // namespace tavro::driver
