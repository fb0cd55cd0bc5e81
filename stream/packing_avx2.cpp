// Eight frames per step in 256-bit registers. AVX2 shuffles stay inside each
// 128-bit lane, so each lane packs four frames as the SSSE3 path does and the
// lanes are put in order with cross-lane permutes before storing. Whatever is
// left below eight frames goes the SSE2/SSSE3 way.
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

TAVRO_AVX2 inline WideAdjust wideAdjust(const PcmAdjust& adjust, uint32_t extraShift) noexcept {
  const VectorAdjust narrow = vectorAdjust(adjust, extraShift);
  return {_mm256_broadcastsi128_si256(narrow.negate), narrow.count};
}

TAVRO_AVX2 inline __m256i applyWide(__m256i v, const WideAdjust& a) noexcept {
  return _mm256_sra_epi32(_mm256_sub_epi32(_mm256_xor_si256(v, a.negate), a.negate), a.count);
}

TAVRO_AVX2 inline __m256i load8(const uint32_t* words) noexcept {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
}

TAVRO_AVX2 inline void store32(uint8_t* at, __m256i v, bool aligned) noexcept {
  if (TAVRO_PACKING_STREAM_STORES && aligned) {
    // 32-byte aligned too: every step of these layouts writes a multiple of 32.
    _mm256_stream_si256(reinterpret_cast<__m256i*>(at), v);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
  }
}

TAVRO_AVX2 inline __m256i table(const ShuffleTable& t) noexcept {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

inline bool isAligned32(const uint8_t* out) noexcept {
  return (reinterpret_cast<uintptr_t>(out) & 31u) == 0;
}

constexpr ShuffleTable kPcm24[2][2] = {
    {shuffleFor(kPcm24Frame, 0, 0), shuffleFor(kPcm24Frame, 0, 1)},
    {shuffleFor(kPcm24Frame, 1, 0), shuffleFor(kPcm24Frame, 1, 1)}};
constexpr ShuffleTable kDop[2][3] = {
    {shuffleFor(kDopFrame, 0, 0), shuffleFor(kDopFrame, 0, 1), shuffleFor(kDopFrame, 0, 2)},
    {shuffleFor(kDopFrame, 1, 0), shuffleFor(kDopFrame, 1, 1), shuffleFor(kDopFrame, 1, 2)}};
constexpr ShuffleTable kDopMarkerBlocks[3] = {dopMarkerBlock(0), dopMarkerBlock(1),
                                              dopMarkerBlock(2)};

// One 16-byte output block of four frames in each lane: frames 0-3 in the
// low lane, 4-7 in the high one.
TAVRO_AVX2 inline __m256i block(__m256i l, __m256i r, const ShuffleTable& fromLeft,
                                const ShuffleTable& fromRight) noexcept {
  return _mm256_or_si256(_mm256_shuffle_epi8(l, table(fromLeft)),
                         _mm256_shuffle_epi8(r, table(fromRight)));
}

TAVRO_AVX2 uint32_t pack16(const PackJob& job, uint8_t* out) noexcept {
  const WideAdjust adjust = wideAdjust(job.adjust, 16);
  const bool aligned = isAligned32(out);
  uint32_t i = 0;
  for (; i + 8 <= job.frames; i += 8, out += 32) {
    const __m256i l = load8(job.left + i);
    const __m256i r = load8(job.right + i);
    // In each lane: frames 0,1 in the first, 2,3 in the second; packs keeps
    // that order within the lane.
    const __m256i first = applyWide(_mm256_unpacklo_epi32(l, r), adjust);
    const __m256i second = applyWide(_mm256_unpackhi_epi32(l, r), adjust);
    store32(out, _mm256_packs_epi32(first, second), aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

TAVRO_AVX2 uint32_t pack32(const PackJob& job, uint8_t* out) noexcept {
  const WideAdjust adjust = wideAdjust(job.adjust, 0);
  const bool aligned = isAligned32(out);
  uint32_t i = 0;
  for (; i + 8 <= job.frames; i += 8, out += 64) {
    const __m256i l = applyWide(load8(job.left + i), adjust);
    const __m256i r = applyWide(load8(job.right + i), adjust);
    const __m256i first = _mm256_unpacklo_epi32(l, r);   // frames 0,1 | 4,5
    const __m256i second = _mm256_unpackhi_epi32(l, r);  // frames 2,3 | 6,7
    store32(out, _mm256_permute2x128_si256(first, second, 0x20), aligned);
    store32(out + 32, _mm256_permute2x128_si256(first, second, 0x31), aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

TAVRO_AVX2 uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const WideAdjust adjust = wideAdjust(job.adjust, 0);
  uint32_t i = 0;
  for (; i + 8 <= job.frames; i += 8, out += 48) {
    const __m256i l = applyWide(load8(job.left + i), adjust);
    const __m256i r = applyWide(load8(job.right + i), adjust);
    // 64-bit pieces: heads = A0 A1 | B0 B1, tails = A2 - | B2 -, where A and
    // B are the 24 bytes of frames 0-3 and 4-7.
    const __m256i heads = block(l, r, kPcm24[0][0], kPcm24[1][0]);
    const __m256i tails = block(l, r, kPcm24[0][1], kPcm24[1][1]);
    const __m256i firstA = _mm256_permute4x64_epi64(heads, _MM_SHUFFLE(2, 0, 1, 0));
    const __m256i tailA = _mm256_permute4x64_epi64(tails, _MM_SHUFFLE(0, 0, 0, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_blend_epi32(firstA, tailA, 0x30));  // A0 A1 A2 B0
    const __m128i headsB = _mm256_extracti128_si256(heads, 1);
    const __m128i tailB = _mm256_extracti128_si256(tails, 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                     _mm_alignr_epi8(tailB, headsB, 8));  // B1 B2
  }
  return i;
}

TAVRO_AVX2 uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  uint32_t i = 0;
  for (; i + 8 <= job.frames; i += 8, out += 96) {
    const __m256i l = load8(job.left + i);
    const __m256i r = load8(job.right + i);
    __m256i p[3];
    for (int b = 0; b < 3; ++b) {
      p[b] = _mm256_or_si256(block(l, r, kDop[0][b], kDop[1][b]), table(kDopMarkerBlocks[b]));
    }
    // Lanes: p[b] = A_b | B_b; the output is A0 A1 A2 B0 B1 B2.
    auto* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, _mm256_permute2x128_si256(p[0], p[1], 0x20));
    _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p[2], p[0], 0x30));
    _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(p[1], p[2], 0x31));
  }
  return i;
}

}  // namespace

TAVRO_ALIGN_STACK void packAvx2(const PackJob& job, uint8_t* out) noexcept {
  uint32_t done = 0;
  switch (job.layout) {
    case WireLayout::Pcm16:
      done = pack16(job, out);
      break;
    case WireLayout::Pcm24:
      done = pack24(job, out);
      break;
    case WireLayout::Pcm32:
      done = pack32(job, out);
      break;
    case WireLayout::Dop:
      done = packDop(job, out);
      break;
  }
  // Fewer than eight frames left: at most one four-frame step, then the
  // scalar remainder, both taking the job from frame `done`.
  const PackJob rest{job.left + done, job.right + done, job.frames - done, job.layout, job.adjust};
  packSsse3(rest, out + static_cast<size_t>(done) * bytesPerFrame(job.layout));
}

}  // namespace tavro::stream::paths

#endif
