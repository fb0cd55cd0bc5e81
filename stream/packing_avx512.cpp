// 512-bit steps with AVX-512 BW and VBMI. vpermt2b picks any byte of two
// 64-byte registers (sixteen left words, sixteen right words), so a whole
// 64-byte output block of the 24-bit or DSD-over-PCM layout is one
// instruction, where the 128- and 256-bit paths need two shuffles and an OR
// per 16 or 32 bytes. Whatever is left below one step goes the AVX2 way.
#include <array>

// GCC 12 takes the deliberately undefined pass-through operand inside its own
// AVX-512 shift intrinsics for an uninitialized read (its bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

#if defined(TAVRO_PACKING_X86)

#define TAVRO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace tavro::stream::paths {
namespace {

using PermuteTable = std::array<uint8_t, 64>;

// Output bytes [64 * block, 64 * block + 64) of a step, from the sixteen
// words of each channel starting at the step's word `firstWord`: indexes
// 0-63 name left bytes, 64-127 right ones. A marker byte holds the marker
// itself: the permute leaves it in place where wordBytes has no bit.
template <std::size_t N>
constexpr PermuteTable permuteFor(const FrameByte (&frame)[N], int block, int firstWord) {
  PermuteTable table{};
  for (int j = 0; j < 64; ++j) {
    const int position = 64 * block + j;
    const int word = position / static_cast<int>(N) - firstWord;
    const FrameByte& source = frame[position % static_cast<int>(N)];
    if (source.channel < 0) {
      table[j] = kDopMarkers[source.byte];
      continue;
    }
    if (word < 0 || word > 15) throw "the block needs a word outside the sixteen loaded";
    table[j] = static_cast<uint8_t>(64 * source.channel + 4 * word + source.byte);
  }
  return table;
}

// The output bytes of block `block` that come from a word, one bit each.
template <std::size_t N>
constexpr uint64_t wordBytes(const FrameByte (&frame)[N], int block) {
  uint64_t mask = 0;
  for (int j = 0; j < 64; ++j) {
    if (frame[(64 * block + j) % static_cast<int>(N)].channel >= 0) mask |= uint64_t{1} << j;
  }
  return mask;
}

// 24-bit: 32 frames make 192 bytes; the blocks need frames 0-10, 10-21 and
// 21-31, loaded from words 0, 8 and 16.
constexpr int kPcm24First[3] = {0, 8, 16};
constexpr PermuteTable kPcm24[3] = {permuteFor(kPcm24Frame, 0, 0), permuteFor(kPcm24Frame, 1, 8),
                                    permuteFor(kPcm24Frame, 2, 16)};
// DSD over PCM: 16 frames make 192 bytes, all from the same sixteen words.
constexpr PermuteTable kDop[3] = {permuteFor(kDopFrame, 0, 0), permuteFor(kDopFrame, 1, 0),
                                  permuteFor(kDopFrame, 2, 0)};
constexpr uint64_t kDopWordBytes[3] = {wordBytes(kDopFrame, 0), wordBytes(kDopFrame, 1),
                                       wordBytes(kDopFrame, 2)};

struct ZmmAdjust {
  __m512i negate;
  __m128i count;
};

TAVRO_AVX512 inline ZmmAdjust zmmAdjust(const PcmAdjust& adjust) noexcept {
  return {_mm512_set1_epi32(adjust.invert ? -1 : 0),
          _mm_cvtsi32_si128(static_cast<int>(adjust.shift & 31u))};
}

template <bool kAdjust>
TAVRO_AVX512 inline __m512i applyZmm(__m512i v, const ZmmAdjust& a) noexcept {
  if (!kAdjust) return v;
  return _mm512_sra_epi32(_mm512_sub_epi32(_mm512_xor_si512(v, a.negate), a.negate), a.count);
}

TAVRO_AVX512 inline __m512i load16(const uint32_t* words) noexcept {
  return _mm512_loadu_si512(words);
}

TAVRO_AVX512 inline __m512i table(const PermuteTable& t) noexcept {
  return _mm512_loadu_si512(t.data());
}

TAVRO_AVX512 inline void store64(uint8_t* at, __m512i v) noexcept { _mm512_storeu_si512(at, v); }

// The 16- and 32-bit steps write whole 64-byte blocks, so they stay aligned
// when the packet starts aligned.
TAVRO_AVX512 inline void storeBlock64(uint8_t* at, __m512i v, bool aligned) noexcept {
  if (TAVRO_PACKING_STREAM_STORES && aligned) {
    _mm512_stream_si512(reinterpret_cast<__m512i*>(at), v);
  } else {
    _mm512_storeu_si512(at, v);
  }
}

inline bool isAligned64(const uint8_t* out) noexcept {
  return (reinterpret_cast<uintptr_t>(out) & 63u) == 0;
}

template <bool kAdjust>
TAVRO_AVX512 uint32_t pack16(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const ZmmAdjust adjust = zmmAdjust(job.adjust);
  const __m512i upper = _mm512_set1_epi32(static_cast<int>(0xFFFF0000u));
  const bool aligned = isAligned64(out);
  uint32_t i = 0;
  for (; i + 16 <= frames; i += 16, out += 64) {
    const __m512i l = applyZmm<kAdjust>(load16(left + i), adjust);
    const __m512i r = applyZmm<kAdjust>(load16(right + i), adjust);
    // (l >> 16) | (r & upper) in one ternary-logic step: A|(B&C) is 0xF8.
    storeBlock64(out, _mm512_ternarylogic_epi32(_mm512_srli_epi32(l, 16), r, upper, 0xF8), aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

template <bool kAdjust>
TAVRO_AVX512 uint32_t pack32(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const ZmmAdjust adjust = zmmAdjust(job.adjust);
  // Dword indexes: 0-15 left, 16-31 right, interleaved.
  const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i second =
      _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  const bool aligned = isAligned64(out);
  uint32_t i = 0;
  for (; i + 16 <= frames; i += 16, out += 128) {
    const __m512i l = load16(left + i);
    const __m512i r = load16(right + i);
    storeBlock64(out, applyZmm<kAdjust>(_mm512_permutex2var_epi32(l, first, r), adjust), aligned);
    storeBlock64(out + 64, applyZmm<kAdjust>(_mm512_permutex2var_epi32(l, second, r), adjust),
                 aligned);
  }
  if (TAVRO_PACKING_STREAM_STORES && aligned) _mm_sfence();
  return i;
}

template <bool kAdjust>
TAVRO_AVX512 inline __m512i pcm24Block(const uint32_t* l, const uint32_t* r, int block,
                                       const ZmmAdjust& adjust) noexcept {
  const __m512i lw = applyZmm<kAdjust>(load16(l + kPcm24First[block]), adjust);
  const __m512i rw = applyZmm<kAdjust>(load16(r + kPcm24First[block]), adjust);
  return _mm512_permutex2var_epi8(lw, table(kPcm24[block]), rw);
}

template <bool kAdjust>
TAVRO_AVX512 uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  const ZmmAdjust adjust = zmmAdjust(job.adjust);
  uint32_t i = 0;
  for (; i + 32 <= frames; i += 32, out += 192) {
    store64(out, pcm24Block<kAdjust>(left + i, right + i, 0, adjust));
    store64(out + 64, pcm24Block<kAdjust>(left + i, right + i, 1, adjust));
    store64(out + 128, pcm24Block<kAdjust>(left + i, right + i, 2, adjust));
  }
  return i;
}

TAVRO_AVX512 uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  const uint32_t* const left = job.left;
  const uint32_t* const right = job.right;
  const uint32_t frames = job.frames;
  uint32_t i = 0;
  for (; i + 16 <= frames; i += 16, out += 192) {
    const __m512i l = load16(left + i);
    const __m512i r = load16(right + i);
    // The markers stay where the index register held them.
    for (int b = 0; b < 3; ++b) {
      store64(out + 64 * b, _mm512_mask2_permutex2var_epi8(l, table(kDop[b]), kDopWordBytes[b], r));
    }
  }
  return i;
}

template <bool kAdjust>
TAVRO_AVX512 uint32_t packPcm(const PackJob& job, uint8_t* out) noexcept {
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

TAVRO_ALIGN_STACK void packAvx512(const PackJob& job, uint8_t* out) noexcept {
  uint32_t done = 0;
  if (job.layout == WireLayout::Dop) {
    done = packDop(job, out);
  } else {
    done = adjusts(job.adjust) ? packPcm<true>(job, out) : packPcm<false>(job, out);
  }
  const PackJob rest{job.left + done, job.right + done, job.frames - done, job.layout, job.adjust};
  packAvx2(rest, out + static_cast<size_t>(done) * bytesPerFrame(job.layout));
}

}  // namespace tavro::stream::paths

#endif
