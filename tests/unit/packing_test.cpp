// The four wire layouts, byte for byte, on every packing path this processor
// has: the worked cases against bytes written out by hand, and every vector
// path against the scalar one on random words.
#include "stream/packing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "driver/buffer_size.h"
#include "stream/dsd_rates.h"
#include "support/guarded_block.h"

namespace tavro::stream {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMostNegative = 0x80000000u;
// Enough frames for an eight-frame step, a four-frame step and a remainder.
constexpr uint32_t kFrames = 8 + 4 + 3;

std::vector<PackPath> availablePaths() {
  std::vector<PackPath> paths;
  for (int p = 0; p < static_cast<int>(PackPath::Count); ++p) {
    if (pathAvailable(static_cast<PackPath>(p))) paths.push_back(static_cast<PackPath>(p));
  }
  return paths;
}

// Packs into a buffer with room to spare and checks that nothing past the
// packet was written.
Bytes packed(PackPath path, const std::vector<uint32_t>& left, const std::vector<uint32_t>& right,
             WireLayout layout, PcmAdjust adjust, size_t outOffset = 0) {
  const uint32_t frames = static_cast<uint32_t>(left.size());
  const size_t bytes = static_cast<size_t>(frames) * bytesPerFrame(layout);
  alignas(64) static uint8_t out[64 + 12 * 1024 + 64];
  std::memset(out, 0xCD, sizeof out);
  packWith(path, {left.data(), right.data(), frames, layout, adjust}, out + outOffset);
  for (size_t i = 0; i < outOffset; ++i) EXPECT_EQ(out[i], 0xCD) << "byte before the packet";
  for (size_t i = outOffset + bytes; i < outOffset + bytes + 64; ++i) {
    EXPECT_EQ(out[i], 0xCD) << "byte " << i - outOffset << " after a packet of " << bytes;
  }
  return Bytes(out + outOffset, out + outOffset + bytes);
}

std::string describe(PackPath path, WireLayout layout, PcmAdjust adjust) {
  return std::string(pathName(path)) + " layout " + std::to_string(static_cast<int>(layout)) +
         " shift " + std::to_string(adjust.shift) + (adjust.invert ? " inverted" : "");
}

struct WorkedCase {
  const char* name;
  WireLayout layout;
  PcmAdjust adjust;
  uint32_t left[2];  // two frames, repeated through the packet
  uint32_t right[2];
  Bytes wire;  // the two frames on the wire
};

const WorkedCase kWorkedCases[] = {
    {"16-bit",
     WireLayout::Pcm16,
     {},
     {0x12345678, 0x12345678},
     {0x9ABCDEF0, 0x9ABCDEF0},
     {0x34, 0x12, 0xBC, 0x9A, 0x34, 0x12, 0xBC, 0x9A}},
    {"24-bit",
     WireLayout::Pcm24,
     {},
     {0x12345678, 0x12345678},
     {0x9ABCDEF0, 0x9ABCDEF0},
     {0x56, 0x34, 0x12, 0xDE, 0xBC, 0x9A, 0x56, 0x34, 0x12, 0xDE, 0xBC, 0x9A}},
    {"32-bit",
     WireLayout::Pcm32,
     {},
     {0x12345678, 0x12345678},
     {0x9ABCDEF0, 0x9ABCDEF0},
     {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC,
      0x9A}},
    {"24-bit shifted by 4, sign bits shifted in",
     WireLayout::Pcm24,
     {4, false},
     {0x12345678, 0x12345678},
     {0x9ABCDEF0, 0x9ABCDEF0},
     {0x45, 0x23, 0x01, 0xCD, 0xAB, 0xF9, 0x45, 0x23, 0x01, 0xCD, 0xAB, 0xF9}},
    {"inverted, then shifted",
     WireLayout::Pcm32,
     {4, true},
     {0x12345678, 0x12345678},
     {0x00000010, 0xFFFFFFFD},  // -3 >> 4 rounds toward minus infinity: -1
     {0x98, 0xBA, 0xDC, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x98, 0xBA, 0xDC, 0xFE, 0, 0, 0, 0}},
    {"inverted only",
     WireLayout::Pcm32,
     {0, true},
     {0x12345678, kMostNegative},
     {0, 1},
     {0x88, 0xA9, 0xCB, 0xED, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"most negative, 16-bit",
     WireLayout::Pcm16,
     {},
     {kMostNegative, kMostNegative},
     {kMostNegative, kMostNegative},
     {0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80}},
    {"most negative shifted by 1, 24-bit",
     WireLayout::Pcm24,
     {1, false},
     {kMostNegative, kMostNegative},
     {kMostNegative, kMostNegative},
     {0x00, 0x00, 0xC0, 0x00, 0x00, 0xC0, 0x00, 0x00, 0xC0, 0x00, 0x00, 0xC0}},
    {"DSD over PCM, two frames",
     WireLayout::Dop,
     {},
     {0x5AA59669, 0x04030201},
     {0x44332211, 0x14131211},
     {0x96, 0x69, 0x05, 0x22, 0x11, 0x05, 0x5A, 0xA5, 0xFA, 0x44, 0x33, 0xFA,
      0x02, 0x01, 0x05, 0x12, 0x11, 0x05, 0x04, 0x03, 0xFA, 0x14, 0x13, 0xFA}},
    {"DSD words are never adjusted",
     WireLayout::Dop,
     {7, true},
     {0x5AA59669, 0x04030201},
     {0x44332211, 0x14131211},
     {0x96, 0x69, 0x05, 0x22, 0x11, 0x05, 0x5A, 0xA5, 0xFA, 0x44, 0x33, 0xFA,
      0x02, 0x01, 0x05, 0x12, 0x11, 0x05, 0x04, 0x03, 0xFA, 0x14, 0x13, 0xFA}},
};

TEST(PackingTest, WorkedCasesComeOutByteForByteOnEveryPath) {
  for (const WorkedCase& c : kWorkedCases) {
    std::vector<uint32_t> left(kFrames), right(kFrames);
    Bytes wire;
    for (uint32_t i = 0; i < kFrames; ++i) {
      left[i] = c.left[i % 2];
      right[i] = c.right[i % 2];
      const size_t half = c.wire.size() / 2;
      wire.insert(wire.end(), c.wire.begin() + (i % 2) * half, c.wire.begin() + (i % 2 + 1) * half);
    }
    for (PackPath path : availablePaths()) {
      for (size_t offset : {0, 1}) {
        SCOPED_TRACE(std::string(c.name) + ", " + pathName(path) + ", offset " +
                     std::to_string(offset));
        EXPECT_EQ(packed(path, left, right, c.layout, c.adjust, offset), wire);
      }
    }
  }
}

// The upper bytes of the most negative sample after each shift, in every PCM
// layout: the sign fills from the top, and negating it changes nothing.
TEST(PackingTest, MostNegativeSampleInEveryLayoutShiftAndPolarity) {
  const std::vector<uint32_t> words(kFrames, kMostNegative);
  for (PackPath path : availablePaths()) {
    for (WireLayout layout : {WireLayout::Pcm16, WireLayout::Pcm24, WireLayout::Pcm32}) {
      for (uint32_t shift = 0; shift < 32; ++shift) {
        for (bool invert : {false, true}) {
          const uint32_t value = ~0u << (31 - shift);
          const uint32_t width = bytesPerFrame(layout) / 2;
          Bytes sample;
          for (uint32_t b = 4 - width; b < 4; ++b) sample.push_back(uint8_t(value >> (8 * b)));
          Bytes wire;
          for (uint32_t n = 0; n < 2 * kFrames; ++n)
            wire.insert(wire.end(), sample.begin(), sample.end());
          const PcmAdjust adjust{shift, invert};
          SCOPED_TRACE(describe(path, layout, adjust));
          EXPECT_EQ(packed(path, words, words, layout, adjust), wire);
        }
      }
    }
  }
}

TEST(PackingTest, EveryPathMatchesTheScalarPathOnRandomWords) {
  std::string tried;
  for (PackPath path : availablePaths()) tried += std::string(pathName(path)) + " ";
  RecordProperty("paths", tried);  // in --gtest_output, to see what this processor ran
  std::mt19937 random(20240611);
  const uint32_t special[] = {0, 1, 0xFFFFFFFF, kMostNegative, 0x7FFFFFFF, 0x00800000, 0xFF7FFFFF};
  for (uint32_t frames : {0u, 1u, 3u, 4u, 7u, 8u, 12u, 48u, 67u, 1024u}) {
    std::vector<uint32_t> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
      left[i] = (i % 5 == 0) ? special[random() % 7] : static_cast<uint32_t>(random());
      right[i] = (i % 7 == 3) ? special[random() % 7] : static_cast<uint32_t>(random());
    }
    for (WireLayout layout :
         {WireLayout::Pcm16, WireLayout::Pcm24, WireLayout::Pcm32, WireLayout::Dop}) {
      for (uint32_t shift = 0; shift <= 32; ++shift) {
        for (bool invert : {false, true}) {
          const PcmAdjust adjust{shift, invert};
          const Bytes reference = packed(PackPath::Scalar, left, right, layout, adjust);
          for (PackPath path : availablePaths()) {
            SCOPED_TRACE(describe(path, layout, adjust) + ", frames " + std::to_string(frames));
            ASSERT_EQ(packed(path, left, right, layout, adjust, frames % 16), reference);
          }
        }
      }
    }
  }
}

TEST(PackingTest, ShiftOf32LeavesSamplesAlone) {
  // The shift is taken modulo 32 where the settings turn into the adjustment.
  const PcmAdjust adjust = pcmAdjust(44100.0, 32, 0);
  const std::vector<uint32_t> words(kFrames, 0x9ABCDEF0);
  for (PackPath path : availablePaths()) {
    EXPECT_EQ(packed(path, words, words, WireLayout::Pcm32, adjust),
              packed(PackPath::Scalar, words, words, WireLayout::Pcm32, {}));
  }
}

struct RateCase {
  double rate;
  int32_t wireBits;
  WireLayout layout;
  bool adjusted;
};

// Shift and polarity are PCM-only: still applied at 1536000 Hz, never on DSD
// words, and DSD rates go out as DSD over PCM whatever the word length.
TEST(PackingTest, RateDecidesLayoutAndWhetherSamplesAreAdjusted) {
  const RateCase cases[] = {
      {44100.0, 16, WireLayout::Pcm16, true},   {44100.0, 24, WireLayout::Pcm24, true},
      {44100.0, 32, WireLayout::Pcm32, true},   {44100.0, 20, WireLayout::Pcm24, true},
      {192000.0, 24, WireLayout::Pcm24, true},  {1536000.0, 32, WireLayout::Pcm32, true},
      {1999999.0, 24, WireLayout::Pcm24, true}, {2000000.0, 24, WireLayout::Pcm24, false},
      {2822400.0, 24, WireLayout::Dop, false},  {2822400.0, 32, WireLayout::Dop, false},
      {22579200.0, 16, WireLayout::Dop, false},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.rate);
    EXPECT_EQ(wireLayout(c.wireBits, c.rate), c.layout);
    const PcmAdjust adjust = pcmAdjust(c.rate, 35, 1);
    EXPECT_EQ(adjust.shift, c.adjusted ? 3u : 0u);
    EXPECT_EQ(adjust.invert, c.adjusted);
  }
}

TEST(PackingTest, PacketBytesAreWhatPackingWrites) {
  EXPECT_EQ(packetBytes(WireLayout::Pcm24, 1024), 6144u);
  EXPECT_EQ(packetBytes(WireLayout::Dop, 65536), 24576u);
  EXPECT_EQ(packetBytes(WireLayout::Pcm32, 0), 0u);
  EXPECT_EQ(packetBytes(WireLayout::Pcm32, -8), 0u);
  EXPECT_EQ(packetBytes(WireLayout::Pcm32, 0x7FFFFFFF), 0u) << "past 32 bits";
}

// Every buffer size the driver offers, at every rate class: the half divides
// into groups of four, and no path reads a byte past either channel's half or
// writes one past the packet, each of which ends against an inaccessible page.
TEST(PackingTest, OfferedBufferSizesPackWithinTheirHalvesOnEveryPath) {
  const double rates[] = {44100.0,   48000.0,   88200.0,   96000.0,    176400.0,
                          192000.0,  352800.0,  384000.0,  705600.0,   768000.0,
                          1536000.0, 2822400.0, 5644800.0, 11289600.0, 22579200.0};
  std::set<std::pair<uint32_t, WireLayout>> seen;
  uint32_t seed = 1;
  for (double rate : rates) {
    for (uint32_t index = 0; index < driver::kBufferSizeTable.size(); ++index) {
      const int32_t bufferFrames = driver::bufferSizeFor(index, rate);
      const int32_t frames = stream::framesPerHalf(bufferFrames, rate);
      SCOPED_TRACE(::testing::Message() << rate << " Hz, index " << index);
      ASSERT_EQ(frames % 4, 0);
      const auto layouts =
          stream::isDsdStream(rate)
              ? std::vector<WireLayout>{WireLayout::Dop}
              : std::vector<WireLayout>{WireLayout::Pcm16, WireLayout::Pcm24, WireLayout::Pcm32};
      for (WireLayout layout : layouts) {
        ASSERT_EQ(packetBytes(layout, bufferFrames),
                  static_cast<uint32_t>(frames) * bytesPerFrame(layout));
        if (!seen.insert({static_cast<uint32_t>(frames), layout}).second) continue;
        const size_t words = static_cast<size_t>(frames);
        testing::GuardedBlock left(words * 4), right(words * 4);
        testing::GuardedBlock out(packetBytes(layout, bufferFrames));
        testing::GuardedBlock reference(packetBytes(layout, bufferFrames));
        ASSERT_NE(left.data(), nullptr);
        ASSERT_NE(right.data(), nullptr);
        ASSERT_NE(out.data(), nullptr);
        ASSERT_NE(reference.data(), nullptr);
        for (size_t i = 0; i < words; ++i) {
          seed = seed * 1664525u + 1013904223u;
          left.as<uint32_t>()[i] = seed;
          right.as<uint32_t>()[i] = ~seed ^ (seed << 7);
        }
        const PackJob job{left.as<uint32_t>(), right.as<uint32_t>(), static_cast<uint32_t>(frames),
                          layout, pcmAdjust(rate, 2, 1)};
        packWith(PackPath::Scalar, job, reference.data());
        for (PackPath path : availablePaths()) {
          SCOPED_TRACE(pathName(path));
          std::memset(out.data(), 0, packetBytes(layout, bufferFrames));
          packWith(path, job, out.data());
          ASSERT_EQ(std::memcmp(out.data(), reference.data(), packetBytes(layout, bufferFrames)),
                    0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace tavro::stream
