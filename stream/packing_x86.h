#pragma once
// What the x86 kernel files share, built into each for its own instruction
// set: the file defines TAVRO_TARGET before including this. Everything here
// has internal linkage, so the linker can never let a copy built for a wider
// set stand in for a narrower one.
#include <immintrin.h>

#include <cstddef>

#include "stream/packing_kernels.h"

#ifndef TAVRO_TARGET
#error "define TAVRO_TARGET, the including file's instruction set, first"
#endif

// A 32-bit Windows thread may enter with its stack aligned to 4 bytes only;
// vector spills need 16, and the kernels are the entry points.
#if defined(__i386__)
#define TAVRO_KERNEL TAVRO_TARGET __attribute__((force_align_arg_pointer))
#else
#define TAVRO_KERNEL TAVRO_TARGET
#endif

// Non-temporal stores bypass the cache, but the transport reads the packet
// right after packing; see README's performance notes for the measurement
// that decided this.
#ifndef TAVRO_PACKING_STREAM_STORES
#define TAVRO_PACKING_STREAM_STORES 0
#endif

namespace tavro::stream::kernels {
namespace {

// 32-bit lanes of a register of kBytes bytes, as GCC vector types, so that
// lane arithmetic is written once for every width.
template <std::size_t kBytes>
struct Lanes;
template <>
struct Lanes<16> {
  using Signed = int32_t __attribute__((vector_size(16)));
  using Unsigned = uint32_t __attribute__((vector_size(16)));
};
template <>
struct Lanes<32> {
  using Signed = int32_t __attribute__((vector_size(32)));
  using Unsigned = uint32_t __attribute__((vector_size(32)));
};
template <>
struct Lanes<64> {
  using Signed = int32_t __attribute__((vector_size(64)));
  using Unsigned = uint32_t __attribute__((vector_size(64)));
};
template <std::size_t kBytes>
using Words = typename Lanes<kBytes>::Unsigned;

template <class V>
TAVRO_TARGET inline V load(const uint32_t* words) noexcept {
  V v;
  __builtin_memcpy(&v, words, sizeof v);
  return v;
}

template <class V>
TAVRO_TARGET inline void store(uint8_t* at, V v) noexcept {
  __builtin_memcpy(at, &v, sizeof v);
}

// Negation as (v ^ m) - m with m all ones or zero, then the arithmetic shift:
// the scalar order, which leaves the most negative sample as it is.
template <bool kAdjust>
struct Adjust {
  explicit Adjust(const PcmAdjust& adjust) noexcept
      : negate(adjust.invert ? -1 : 0), shift(static_cast<int32_t>(adjust.shift & 31u)) {}

  template <class V>
  TAVRO_TARGET V operator()(V v) const noexcept {
    if constexpr (!kAdjust) return v;
    using Signed = typename Lanes<sizeof(V)>::Signed;
    return reinterpret_cast<V>((((reinterpret_cast<Signed>(v) ^ negate) - negate) >> shift));
  }

  int32_t negate;
  int32_t shift;
};

// Calls `step` for every whole group of kFrames frames from the start of
// `job`, with the group's words and its place in the packet, and returns the
// frames packed. The pointers are copied first: the steps' byte stores may
// alias anything, so fields read through `job` would be reloaded every time.
template <WireLayout kLayout, uint32_t kFrames, class Step>
TAVRO_TARGET inline uint32_t eachGroup(const PackJob& job, uint8_t* out, Step step) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t whole = job.frames - job.frames % kFrames;
  for (uint32_t i = 0; i < whole; i += kFrames, out += kFrames * bytesPerFrame(kLayout)) {
    step(left + i, right + i, out);
  }
  return whole;
}

// The same for a group of one register of words from each channel: `step`
// gets them loaded, and adjusted if kAdjust.
template <WireLayout kLayout, class V, bool kAdjust, class Step>
TAVRO_TARGET inline uint32_t eachLoadedGroup(const PackJob& job, uint8_t* out, Step step) noexcept {
  const Adjust<kAdjust> adjust(job.adjust);
  const auto loaded = [&](const uint32_t* l, const uint32_t* r, uint8_t* at)
                          TAVRO_TARGET { step(adjust(load<V>(l)), adjust(load<V>(r)), at); };
  return eachGroup<kLayout, sizeof(V) / 4>(job, out, loaded);
}

// The 16- and 32-bit kernels store whole registers at multiples of their
// size, so every store is aligned when the packet starts aligned.
template <class V>
struct BlockStores {
  explicit BlockStores(const uint8_t* out) noexcept
      : streaming(TAVRO_PACKING_STREAM_STORES &&
                  reinterpret_cast<uintptr_t>(out) % sizeof(V) == 0) {}

  TAVRO_TARGET void put(uint8_t* at, V v) const noexcept {
    if (!streaming) {
      store(at, v);
    } else if constexpr (sizeof(V) == 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(at), reinterpret_cast<__m128i>(v));
    } else if constexpr (sizeof(V) == 32) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(at), reinterpret_cast<__m256i>(v));
    } else {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(at), reinterpret_cast<__m512i>(v));
    }
  }

  // Streaming stores are weakly ordered: make them visible before the send.
  TAVRO_TARGET uint32_t finish(uint32_t frames) const noexcept {
    if (streaming) _mm_sfence();
    return frames;
  }

  bool streaming;
};

// 16-bit: each frame is one word, the left sample's upper half below the
// right one's, so nothing to shuffle at any width.
template <std::size_t kBytes, bool kAdjust>
TAVRO_KERNEL uint32_t pack16(const PackJob& job, uint8_t* out) noexcept {
  using V = Words<kBytes>;
  const BlockStores<V> stores(out);
  const auto step = [&](V l, V r, uint8_t* at)
                        TAVRO_TARGET { stores.put(at, (l >> 16) | (r & 0xFFFF0000u)); };
  return stores.finish(eachLoadedGroup<WireLayout::Pcm16, V, kAdjust>(job, out, step));
}

// Left and right words alternating: the first half of the frames to `low`,
// the second to `high`.
template <class V>
TAVRO_TARGET inline void interleave(V l, V r, V& low, V& high) noexcept {
  if constexpr (sizeof(V) == 16) {
    const auto a = reinterpret_cast<__m128i>(l), b = reinterpret_cast<__m128i>(r);
    low = reinterpret_cast<V>(_mm_unpacklo_epi32(a, b));
    high = reinterpret_cast<V>(_mm_unpackhi_epi32(a, b));
  } else if constexpr (sizeof(V) == 32) {
    // Unpacks stay inside 128-bit lanes: words reordered 0 1 4 5 | 2 3 6 7
    // first come out as frames 0-3 and 4-7 in order.
    const __m256i a =
        _mm256_permute4x64_epi64(reinterpret_cast<__m256i>(l), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i b =
        _mm256_permute4x64_epi64(reinterpret_cast<__m256i>(r), _MM_SHUFFLE(3, 1, 2, 0));
    low = reinterpret_cast<V>(_mm256_unpacklo_epi32(a, b));
    high = reinterpret_cast<V>(_mm256_unpackhi_epi32(a, b));
  } else {
    // Dword indexes: 0-15 left, 16-31 right.
    const __m512i a = reinterpret_cast<__m512i>(l), b = reinterpret_cast<__m512i>(r);
    const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second =
        _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    low = reinterpret_cast<V>(_mm512_permutex2var_epi32(a, first, b));
    high = reinterpret_cast<V>(_mm512_permutex2var_epi32(a, second, b));
  }
}

template <std::size_t kBytes, bool kAdjust>
TAVRO_KERNEL uint32_t pack32(const PackJob& job, uint8_t* out) noexcept {
  using V = Words<kBytes>;
  const BlockStores<V> stores(out);
  return stores.finish(eachLoadedGroup<WireLayout::Pcm32, V, kAdjust>(
      job, out, [&](V l, V r, uint8_t* at) TAVRO_TARGET {
        V low, high;
        interleave(l, r, low, high);
        stores.put(at, low);
        stores.put(at + kBytes, high);
      }));
}

// A row of kBytes-wide 16- and 32-bit kernels and the file's own 24-bit and
// DSD-over-PCM ones.
template <std::size_t kBytes>
constexpr KernelRow rowOf(Kernel pcm24, Kernel pcm24Adjusted, Kernel dop) noexcept {
  return {{pack16<kBytes, false>, pack16<kBytes, true>},
          {pcm24, pcm24Adjusted},
          {pack32<kBytes, false>, pack32<kBytes, true>},
          dop};
}

}  // namespace
}  // namespace tavro::stream::kernels
