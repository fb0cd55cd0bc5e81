// The byte-shuffle layouts (24-bit and DSD over PCM) with SSSE3's pshufb:
// each output block is one shuffle of the left words, one of the right, and
// an OR. The 16- and 32-bit layouts have nothing to shuffle and stay as SSE2
// has them.
#include "stream/packing_kernels.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_TARGET __attribute__((target("ssse3")))
#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

namespace tavro::stream::kernels {
namespace {

TAVRO_TARGET inline __m128i table(const ShuffleTable& t) noexcept {
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

TAVRO_TARGET inline __m128i block(__m128i l, __m128i r, const ShuffleTable& fromLeft,
                                  const ShuffleTable& fromRight) noexcept {
  return _mm_or_si128(_mm_shuffle_epi8(l, table(fromLeft)), _mm_shuffle_epi8(r, table(fromRight)));
}

template <bool kAdjust>
TAVRO_KERNEL uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const auto step = [](__m128i l, __m128i r, uint8_t* at) TAVRO_TARGET {
    store(at, block(l, r, kPcm24[0][0], kPcm24[1][0]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), block(l, r, kPcm24[0][1], kPcm24[1][1]));
  };
  return eachLoadedGroup<WireLayout::Pcm24, __m128i, kAdjust>(job, out, step);
}

TAVRO_KERNEL uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  const auto step = [](__m128i l, __m128i r, uint8_t* at) TAVRO_TARGET {
#pragma GCC unroll 3
    for (int b = 0; b < 3; ++b) {
      const __m128i markers = table(kDopMarkerBlocks[b]);
      store(at + 16 * b, _mm_or_si128(block(l, r, kDop[0][b], kDop[1][b]), markers));
    }
  };
  return eachLoadedGroup<WireLayout::Dop, __m128i, false>(job, out, step);
}

}  // namespace

constinit const KernelRow kSsse3Kernels = rowOf<16>(pack24<false>, pack24<true>, packDop);

}  // namespace tavro::stream::kernels

#endif
