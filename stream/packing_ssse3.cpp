// The byte-shuffle layouts (24-bit and DSD over PCM) with SSSE3's pshufb:
// each output block is one shuffle of the left words, one of the right, and
// an OR. The 16- and 32-bit layouts have nothing to shuffle and use SSE2.
#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_SSSE3 __attribute__((target("ssse3")))

namespace tavro::stream::paths {
namespace {

TAVRO_SSSE3 inline __m128i table(const ShuffleTable& t) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data()));
}

constexpr ShuffleTable kPcm24[2][2] = {
    {shuffleFor(kPcm24Frame, 0, 0), shuffleFor(kPcm24Frame, 0, 1)},
    {shuffleFor(kPcm24Frame, 1, 0), shuffleFor(kPcm24Frame, 1, 1)}};
constexpr ShuffleTable kDop[2][3] = {
    {shuffleFor(kDopFrame, 0, 0), shuffleFor(kDopFrame, 0, 1), shuffleFor(kDopFrame, 0, 2)},
    {shuffleFor(kDopFrame, 1, 0), shuffleFor(kDopFrame, 1, 1), shuffleFor(kDopFrame, 1, 2)}};
constexpr ShuffleTable kDopMarkerBlocks[3] = {dopMarkerBlock(0), dopMarkerBlock(1),
                                              dopMarkerBlock(2)};

TAVRO_SSSE3 inline __m128i block(__m128i l, __m128i r, const ShuffleTable& fromLeft,
                                 const ShuffleTable& fromRight) noexcept {
  return _mm_or_si128(_mm_shuffle_epi8(l, table(fromLeft)), _mm_shuffle_epi8(r, table(fromRight)));
}

template <bool kAdjust>
TAVRO_SSSE3 uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const VectorAdjust adjust = vectorAdjust(job.adjust);
  uint32_t i = 0;
  for (; i + 4 <= frames; i += 4, out += 24) {
    const __m128i l = applyAdjust<kAdjust>(load4(left + i), adjust);
    const __m128i r = applyAdjust<kAdjust>(load4(right + i), adjust);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block(l, r, kPcm24[0][0], kPcm24[1][0]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), block(l, r, kPcm24[0][1], kPcm24[1][1]));
  }
  return i;
}

TAVRO_SSSE3 uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  uint32_t i = 0;
  for (; i + 4 <= frames; i += 4, out += 48) {
    const __m128i l = load4(left + i);
    const __m128i r = load4(right + i);
    auto* o = reinterpret_cast<__m128i*>(out);
    for (int b = 0; b < 3; ++b) {
      _mm_storeu_si128(
          o + b, _mm_or_si128(block(l, r, kDop[0][b], kDop[1][b]), table(kDopMarkerBlocks[b])));
    }
  }
  return i;
}

}  // namespace

TAVRO_ALIGN_STACK void packSsse3(const PackJob& job, uint8_t* out) noexcept {
  uint32_t done = 0;
  switch (job.layout) {
    case WireLayout::Pcm24:
      done = adjusts(job.adjust) ? pack24<true>(job, out) : pack24<false>(job, out);
      break;
    case WireLayout::Dop:
      done = packDop(job, out);
      break;
    default:
      packSse2(job, out);
      return;
  }
  packScalarFrom(job, done, out);
}

}  // namespace tavro::stream::paths

#endif
