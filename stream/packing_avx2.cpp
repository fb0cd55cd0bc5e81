// Eight or sixteen frames per group in 256-bit registers. AVX2 byte shuffles
// stay inside each 128-bit lane, and moving data between lanes costs the same
// scarce shuffle unit, so the 24-bit and DSD-over-PCM groups load each lane
// straight from the words its output bytes need (a 128-bit load into either
// lane costs no shuffle).
#include "stream/packing_kernels.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_TARGET __attribute__((target("avx2")))
#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

namespace tavro::stream::kernels {
namespace {

// Four words at `low` into the low lane and four at `high` into the high one.
TAVRO_TARGET inline __m256i loadLanes(const uint32_t* low, const uint32_t* high) noexcept {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load<__m128i>(low)), load<__m128i>(high),
                                 1);
}

// The same four words in both lanes.
TAVRO_TARGET inline __m256i loadBoth(const uint32_t* words) noexcept {
  return _mm256_broadcastsi128_si256(load<__m128i>(words));
}

// Two 16-byte tables, one per lane.
using WideTable = std::array<int8_t, 32>;

constexpr WideTable lanes(const ShuffleTable& low, const ShuffleTable& high) {
  WideTable table{};
  for (int j = 0; j < 16; ++j) {
    table[j] = low[j];
    table[16 + j] = high[j];
  }
  return table;
}

TAVRO_TARGET inline __m256i table(const WideTable& t) noexcept {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.data()));
}

// A group's output is three 32-byte blocks, six lanes; lane g is shuffled
// from the four words at start[g] of each channel.
template <std::size_t N, int kGroup>
struct LanePlan {
  const FrameByte (&frame)[N];
  int start[6];

  constexpr WideTable shuffle(int channel, int block) const {
    return lanes(shuffleFor(frame, channel, 2 * block, kGroup, start[2 * block]),
                 shuffleFor(frame, channel, 2 * block + 1, kGroup, start[2 * block + 1]));
  }
};

// 24-bit: sixteen frames make 96 bytes; the lanes need frames 0-2, 2-5, 5-7,
// 8-10, 10-13 and 13-15.
constexpr LanePlan<6, 16> kPcm24Plan{kPcm24Frame, {0, 2, 4, 8, 10, 12}};
// DSD over PCM: eight frames make 96 bytes; lanes need frames 0-1, 1-2, 2-3,
// 4-5, 5-6, 6-7.
constexpr LanePlan<12, 8> kDopPlan{kDopFrame, {0, 0, 0, 4, 4, 4}};

constexpr WideTable kPcm24[2][3] = {
    {kPcm24Plan.shuffle(0, 0), kPcm24Plan.shuffle(0, 1), kPcm24Plan.shuffle(0, 2)},
    {kPcm24Plan.shuffle(1, 0), kPcm24Plan.shuffle(1, 1), kPcm24Plan.shuffle(1, 2)}};
constexpr WideTable kDop[2][3] = {
    {kDopPlan.shuffle(0, 0), kDopPlan.shuffle(0, 1), kDopPlan.shuffle(0, 2)},
    {kDopPlan.shuffle(1, 0), kDopPlan.shuffle(1, 1), kDopPlan.shuffle(1, 2)}};
constexpr WideTable kDopMarkers[3] = {lanes(dopMarkerBlock(0), dopMarkerBlock(1)),
                                      lanes(dopMarkerBlock(2), dopMarkerBlock(3)),
                                      lanes(dopMarkerBlock(4), dopMarkerBlock(5))};

// One 32-byte output block from lanes loaded as the plan says.
TAVRO_TARGET inline __m256i shuffled(__m256i l, __m256i r, const WideTable& fromLeft,
                                     const WideTable& fromRight) noexcept {
  return _mm256_or_si256(_mm256_shuffle_epi8(l, table(fromLeft)),
                         _mm256_shuffle_epi8(r, table(fromRight)));
}

template <bool kAdjust>
TAVRO_KERNEL uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const Adjust<kAdjust> adjust(job.adjust);
  return eachGroup<WireLayout::Pcm24, 16>(
      job, out, [&](const uint32_t* l, const uint32_t* r, uint8_t* at) TAVRO_TARGET {
#pragma GCC unroll 3
        for (int b = 0; b < 3; ++b) {
          const int* start = kPcm24Plan.start + 2 * b;
          const __m256i lw = adjust(loadLanes(l + start[0], l + start[1]));
          const __m256i rw = adjust(loadLanes(r + start[0], r + start[1]));
          store(at + 32 * b, shuffled(lw, rw, kPcm24[0][b], kPcm24[1][b]));
        }
      });
}

TAVRO_KERNEL uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  return eachGroup<WireLayout::Dop, 8>(
      job, out, [](const uint32_t* l, const uint32_t* r, uint8_t* at) TAVRO_TARGET {
        const auto put = [at](int b, __m256i lw, __m256i rw) TAVRO_TARGET {
          const __m256i markers = table(kDopMarkers[b]);
          store(at + 32 * b, _mm256_or_si256(shuffled(lw, rw, kDop[0][b], kDop[1][b]), markers));
        };
        // Lanes: words 0-3|0-3, 0-3|4-7 and 4-7|4-7.
        put(0, loadBoth(l), loadBoth(r));
        put(1, load<__m256i>(l), load<__m256i>(r));
        put(2, loadBoth(l + 4), loadBoth(r + 4));
      });
}

}  // namespace

constinit const KernelRow kAvx2Kernels = rowOf<32>(pack24<false>, pack24<true>, packDop);

}  // namespace tavro::stream::kernels

#endif
