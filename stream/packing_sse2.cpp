// Four frames per group in 128-bit registers, with SSE2 only: every 64-bit
// x86 processor has it, so this is the floor of the vector paths.
#include "stream/packing_kernels.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_TARGET __attribute__((target("sse2")))
#include "stream/packing_x86.h"

namespace tavro::stream::kernels {
namespace {

// Four dwords whose top byte is zero -> their low 3 bytes, packed into bytes
// 0 to 11 (12 to 15 zero).
TAVRO_TARGET inline __m128i pack3of4(__m128i v) noexcept {
  const __m128i low = _mm_set1_epi64x(0x0000000000FFFFFF);
  const __m128i high = _mm_set1_epi64x(0x00FFFFFF00000000);
  // Each 64-bit lane: its two 3-byte values side by side, bytes 0 to 5.
  const __m128i lanes =
      _mm_or_si128(_mm_and_si128(v, low), _mm_srli_epi64(_mm_and_si128(v, high), 8));
  return _mm_or_si128(_mm_move_epi64(lanes), _mm_slli_si128(_mm_srli_si128(lanes, 8), 6));
}

// Four 12-byte runs (in bytes 0 to 11 of each register) -> 48 bytes at `out`.
TAVRO_TARGET inline void store4x12(uint8_t* out, __m128i a, __m128i b, __m128i c,
                                   __m128i d) noexcept {
  auto* o = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(o, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

template <bool kAdjust>
TAVRO_KERNEL uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const auto step = [](__m128i l, __m128i r, uint8_t* at) TAVRO_TARGET {
    const __m128i first = pack3of4(_mm_srli_epi32(_mm_unpacklo_epi32(l, r), 8));
    const __m128i second = pack3of4(_mm_srli_epi32(_mm_unpackhi_epi32(l, r), 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                     _mm_or_si128(first, _mm_slli_si128(second, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), _mm_srli_si128(second, 4));
  };
  return eachLoadedGroup<WireLayout::Pcm24, __m128i, kAdjust>(job, out, step);
}

// Bytes b1 b0 and b3 b2 of each word: swap the bytes of every 16-bit half.
TAVRO_TARGET inline __m128i swapPairs(__m128i v) noexcept {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Two frames' swapped words, L R L R -> the four DoP samples of each frame as
// dwords (marker in byte 2), first frame in `first`.
TAVRO_TARGET inline void dopSamples(__m128i pairs, __m128i markers, __m128i& first,
                                    __m128i& second) noexcept {
  // 16-bit halves L.lo L.hi R.lo R.hi -> L.lo R.lo L.hi R.hi, in both frames.
  const __m128i ordered = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pairs, _MM_SHUFFLE(3, 1, 2, 0)),
                                              _MM_SHUFFLE(3, 1, 2, 0));
  first = _mm_unpacklo_epi16(ordered, markers);
  second = _mm_unpackhi_epi16(ordered, markers);
}

TAVRO_KERNEL uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  const __m128i markers = _mm_setr_epi16(0x05, 0x05, 0xFA, 0xFA, 0x05, 0x05, 0xFA, 0xFA);
  return eachLoadedGroup<WireLayout::Dop, __m128i, false>(
      job, out, [&](__m128i l, __m128i r, uint8_t* at) TAVRO_TARGET {
        const __m128i lw = swapPairs(l);
        const __m128i rw = swapPairs(r);
        __m128i f0, f1, f2, f3;
        dopSamples(_mm_unpacklo_epi32(lw, rw), markers, f0, f1);
        dopSamples(_mm_unpackhi_epi32(lw, rw), markers, f2, f3);
        store4x12(at, pack3of4(f0), pack3of4(f1), pack3of4(f2), pack3of4(f3));
      });
}

}  // namespace

constinit const KernelRow kSse2Kernels = rowOf<16>(pack24<false>, pack24<true>, packDop);

}  // namespace tavro::stream::kernels

#endif
