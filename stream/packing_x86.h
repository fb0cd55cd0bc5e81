#pragma once
// Pieces the x86 packing paths share: the PCM adjustment on four words, and
// the stores of the 16- and 32-bit layouts.
#include <immintrin.h>

#include "stream/packing_paths.h"

// Non-temporal stores bypass the cache, but the transport reads the packet
// right after packing; see README's performance notes for the measurement
// that decided this.
#ifndef TAVRO_PACKING_STREAM_STORES
#define TAVRO_PACKING_STREAM_STORES 0
#endif

// The loops copy the job's pointers and count into locals first: their byte
// stores may alias anything, so fields read through `job` would be reloaded on
// every step.

namespace tavro::stream::paths {

// Negation as (v ^ m) - m with m all ones or zero, then the arithmetic shift.
struct VectorAdjust {
  __m128i negate;
  __m128i count;
};

inline bool adjusts(const PcmAdjust& adjust) noexcept {
  return (adjust.shift & 31u) != 0 || adjust.invert;
}

__attribute__((target("sse2"))) inline VectorAdjust vectorAdjust(const PcmAdjust& adjust) noexcept {
  return {_mm_set1_epi32(adjust.invert ? -1 : 0),
          _mm_cvtsi32_si128(static_cast<int>(adjust.shift & 31u))};
}

// Every PCM loop comes in two versions, so that the common case of no
// adjustment costs nothing per step.
template <bool kAdjust>
__attribute__((target("sse2"))) inline __m128i applyAdjust(__m128i v,
                                                           const VectorAdjust& a) noexcept {
  if (!kAdjust) return v;
  return _mm_sra_epi32(_mm_sub_epi32(_mm_xor_si128(v, a.negate), a.negate), a.count);
}

__attribute__((target("sse2"))) inline __m128i load4(const uint32_t* words) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
}

// 16 bytes at a position that is 16-byte aligned whenever `out` is.
__attribute__((target("sse2"))) inline void storeBlock(uint8_t* at, __m128i v,
                                                       bool aligned) noexcept {
  if (TAVRO_PACKING_STREAM_STORES && aligned) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(at), v);
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
  }
}

__attribute__((target("sse2"))) inline void finishBlocks(bool aligned) noexcept {
  // Streaming stores are weakly ordered: make them visible before the send.
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
}

inline bool isAligned16(const uint8_t* out) noexcept {
  return (reinterpret_cast<uintptr_t>(out) & 15u) == 0;
}

}  // namespace tavro::stream::paths
