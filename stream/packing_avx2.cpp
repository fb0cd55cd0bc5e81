// Eight or sixteen frames per step in 256-bit registers. AVX2 byte shuffles
// stay inside each 128-bit lane, and moving data between lanes costs the same
// scarce shuffle unit, so the 24-bit and DSD-over-PCM steps load each lane
// straight from the words its output bytes need (a 128-bit load into either
// lane costs no shuffle). Whatever is left below one step goes the SSSE3/SSE2
// way.
#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_AVX2 __attribute__((target("avx2")))

namespace tavro::stream::paths {
namespace {

struct WideAdjust {
  __m256i negate;
  __m128i count;
};

TAVRO_AVX2 inline WideAdjust wideAdjust(const PcmAdjust& adjust) noexcept {
  const VectorAdjust narrow = vectorAdjust(adjust);
  return {_mm256_broadcastsi128_si256(narrow.negate), narrow.count};
}

template <bool kAdjust>
TAVRO_AVX2 inline __m256i applyWide(__m256i v, const WideAdjust& a) noexcept {
  if (!kAdjust) return v;
  return _mm256_sra_epi32(_mm256_sub_epi32(_mm256_xor_si256(v, a.negate), a.negate), a.count);
}

TAVRO_AVX2 inline __m256i load8(const uint32_t* words) noexcept {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
}

// Four words at `low` into the low lane and four at `high` into the high one.
TAVRO_AVX2 inline __m256i loadLanes(const uint32_t* low, const uint32_t* high) noexcept {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load4(low)), load4(high), 1);
}

TAVRO_AVX2 inline void store32(uint8_t* at, __m256i v, bool aligned) noexcept {
  if (TAVRO_PACKING_STREAM_STORES && aligned) {
    // 32-byte aligned too: every step of these layouts writes a multiple of 32.
    _mm256_stream_si256(reinterpret_cast<__m256i*>(at), v);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
  }
}

inline bool isAligned32(const uint8_t* out) noexcept {
  return (reinterpret_cast<uintptr_t>(out) & 31u) == 0;
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

TAVRO_AVX2 inline __m256i table(const WideTable& t) noexcept {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.data()));
}

// A step's output is three 32-byte blocks, six lanes; lane g is shuffled
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

// 16-bit: each frame is one dword, the left sample's upper half below the
// right one's, so no shuffle at all.
template <bool kAdjust>
TAVRO_AVX2 uint32_t pack16(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const WideAdjust adjust = wideAdjust(job.adjust);
  const __m256i upper = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
  const bool aligned = isAligned32(out);
  uint32_t i = 0;
  for (; i + 8 <= frames; i += 8, out += 32) {
    const __m256i l = applyWide<kAdjust>(load8(left + i), adjust);
    const __m256i r = applyWide<kAdjust>(load8(right + i), adjust);
    store32(out, _mm256_or_si256(_mm256_srli_epi32(l, 16), _mm256_and_si256(r, upper)), aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

// 32-bit: words reordered 0 1 4 5 | 2 3 6 7, so that the in-lane unpacks
// give frames 0-3 and 4-7 in order.
template <bool kAdjust>
TAVRO_AVX2 uint32_t pack32(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const WideAdjust adjust = wideAdjust(job.adjust);
  const bool aligned = isAligned32(out);
  uint32_t i = 0;
  for (; i + 8 <= frames; i += 8, out += 64) {
    const __m256i l = _mm256_permute4x64_epi64(load8(left + i), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i r = _mm256_permute4x64_epi64(load8(right + i), _MM_SHUFFLE(3, 1, 2, 0));
    store32(out, applyWide<kAdjust>(_mm256_unpacklo_epi32(l, r), adjust), aligned);
    store32(out + 32, applyWide<kAdjust>(_mm256_unpackhi_epi32(l, r), adjust), aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

// One 32-byte output block from lanes loaded as the plan says.
TAVRO_AVX2 inline __m256i shuffled(__m256i l, __m256i r, const WideTable& fromLeft,
                                   const WideTable& fromRight) noexcept {
  return _mm256_or_si256(_mm256_shuffle_epi8(l, table(fromLeft)),
                         _mm256_shuffle_epi8(r, table(fromRight)));
}

template <bool kAdjust>
TAVRO_AVX2 inline __m256i pcm24Block(const uint32_t* l, const uint32_t* r, int block,
                                     const WideAdjust& adjust) noexcept {
  const int* start = kPcm24Plan.start;
  const __m256i lw =
      applyWide<kAdjust>(loadLanes(l + start[2 * block], l + start[2 * block + 1]), adjust);
  const __m256i rw =
      applyWide<kAdjust>(loadLanes(r + start[2 * block], r + start[2 * block + 1]), adjust);
  return shuffled(lw, rw, kPcm24[0][block], kPcm24[1][block]);
}

template <bool kAdjust>
TAVRO_AVX2 uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const WideAdjust adjust = wideAdjust(job.adjust);
  uint32_t i = 0;
  for (; i + 16 <= frames; i += 16, out += 96) {
    auto* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, pcm24Block<kAdjust>(left + i, right + i, 0, adjust));
    _mm256_storeu_si256(o + 1, pcm24Block<kAdjust>(left + i, right + i, 1, adjust));
    _mm256_storeu_si256(o + 2, pcm24Block<kAdjust>(left + i, right + i, 2, adjust));
  }
  return i;
}

TAVRO_AVX2 uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  uint32_t i = 0;
  for (; i + 8 <= frames; i += 8, out += 96) {
    const uint32_t* l = left + i;
    const uint32_t* r = right + i;
    // Lanes: words 0-3|0-3, 0-3|4-7 and 4-7|4-7.
    const __m256i first = shuffled(_mm256_broadcastsi128_si256(load4(l)),
                                   _mm256_broadcastsi128_si256(load4(r)), kDop[0][0], kDop[1][0]);
    const __m256i second = shuffled(load8(l), load8(r), kDop[0][1], kDop[1][1]);
    const __m256i third =
        shuffled(_mm256_broadcastsi128_si256(load4(l + 4)),
                 _mm256_broadcastsi128_si256(load4(r + 4)), kDop[0][2], kDop[1][2]);
    auto* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, _mm256_or_si256(first, table(kDopMarkers[0])));
    _mm256_storeu_si256(o + 1, _mm256_or_si256(second, table(kDopMarkers[1])));
    _mm256_storeu_si256(o + 2, _mm256_or_si256(third, table(kDopMarkers[2])));
  }
  return i;
}

template <bool kAdjust>
TAVRO_AVX2 uint32_t packPcm(const PackJob& job, uint8_t* out) noexcept {
  switch (job.layout) {
    case WireLayout::Pcm16:
      return pack16<kAdjust>(job, out);
    case WireLayout::Pcm24:
      return pack24<kAdjust>(job, out);
    case WireLayout::Pcm32:
      return pack32<kAdjust>(job, out);
    case WireLayout::Dop:
      break;
  }
  return 0;
}

}  // namespace

TAVRO_ALIGN_STACK void packAvx2(const PackJob& job, uint8_t* out) noexcept {
  uint32_t done = 0;
  if (job.layout == WireLayout::Dop) {
    done = packDop(job, out);
  } else {
    done = adjusts(job.adjust) ? packPcm<true>(job, out) : packPcm<false>(job, out);
  }
  const PackJob rest{job.left + done, job.right + done, job.frames - done, job.layout, job.adjust};
  packSsse3(rest, out + static_cast<size_t>(done) * bytesPerFrame(job.layout));
}

}  // namespace tavro::stream::paths

#endif
