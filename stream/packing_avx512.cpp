// 512-bit groups with AVX-512 BW and VBMI. vpermt2b picks any byte of two
// 64-byte registers (sixteen left words, sixteen right words), so a whole
// 64-byte output block of the 24-bit or DSD-over-PCM layout is one
// instruction, where the 128- and 256-bit paths need two shuffles and an OR
// per 16 or 32 bytes.
#include "stream/packing_kernels.h"

#if defined(TAVRO_PACKING_X86)

// GCC 12 takes the deliberately undefined pass-through operand inside its own
// AVX-512 shift intrinsics for an uninitialized read (its bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#define TAVRO_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#include "stream/packing_shuffles.h"
#include "stream/packing_x86.h"

namespace tavro::stream::kernels {
namespace {

using PermuteTable = std::array<uint8_t, 64>;

// Output bytes [64 * block, 64 * block + 64) of a group, from the sixteen
// words of each channel starting at the group's word `firstWord`: indexes
// 0-63 name left bytes, 64-127 right ones. A marker byte holds the marker
// itself: the permute leaves it in place where wordBytes has no bit. Bytes
// from `end` on are not stored.
template <std::size_t N>
constexpr PermuteTable permuteFor(const FrameByte (&frame)[N], int block, int firstWord,
                                  int end = 192) {
  PermuteTable table{};
  for (int j = 0; j < 64 && 64 * block + j < end; ++j) {
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
// 21-31, loaded from words 0, 8 and 16. Sixteen frames make 96 bytes, all
// from words 0 to 15.
constexpr int kPcm24First[3] = {0, 8, 16};
constexpr PermuteTable kPcm24[3] = {permuteFor(kPcm24Frame, 0, 0), permuteFor(kPcm24Frame, 1, 8),
                                    permuteFor(kPcm24Frame, 2, 16)};
constexpr PermuteTable kPcm24HalfEnd = permuteFor(kPcm24Frame, 1, 0, 96);
// DSD over PCM: 16 frames make 192 bytes, all from the same sixteen words.
constexpr PermuteTable kDop[3] = {permuteFor(kDopFrame, 0, 0), permuteFor(kDopFrame, 1, 0),
                                  permuteFor(kDopFrame, 2, 0)};
constexpr uint64_t kDopWordBytes[3] = {wordBytes(kDopFrame, 0), wordBytes(kDopFrame, 1),
                                       wordBytes(kDopFrame, 2)};

TAVRO_TARGET inline __m512i table(const PermuteTable& t) noexcept {
  return _mm512_loadu_si512(t.data());
}

// Groups of 32 frames, then one of 16 if that many are left: every offered
// buffer size is a multiple of 16, and the smallest (48 frames) would
// otherwise leave a third of its frames to the scalar tail.
template <bool kAdjust>
TAVRO_KERNEL uint32_t pack24(const PackJob& job, uint8_t* out) noexcept {
  const Adjust<kAdjust> adjust(job.adjust);
  const auto block = [&](const uint32_t* l, const uint32_t* r, const PermuteTable& t) TAVRO_TARGET {
    return _mm512_permutex2var_epi8(adjust(load<__m512i>(l)), table(t), adjust(load<__m512i>(r)));
  };
  uint32_t done = eachGroup<WireLayout::Pcm24, 32>(
      job, out, [&](const uint32_t* l, const uint32_t* r, uint8_t* at) TAVRO_TARGET {
#pragma GCC unroll 3
        for (int b = 0; b < 3; ++b) {
          store(at + 64 * b, block(l + kPcm24First[b], r + kPcm24First[b], kPcm24[b]));
        }
      });
  if (job.frames - done >= 16) {
    const uint32_t* l = job.left + done;
    const uint32_t* r = job.right + done;
    uint8_t* at = out + static_cast<size_t>(done) * bytesPerFrame(WireLayout::Pcm24);
    store(at, block(l, r, kPcm24[0]));
    store(at + 64, _mm512_castsi512_si256(block(l, r, kPcm24HalfEnd)));
    done += 16;
  }
  return done;
}

TAVRO_KERNEL uint32_t packDop(const PackJob& job, uint8_t* out) noexcept {
  // The markers stay where the index register held them.
  const auto step = [](__m512i l, __m512i r, uint8_t* at) TAVRO_TARGET {
#pragma GCC unroll 3
    for (int b = 0; b < 3; ++b) {
      store(at + 64 * b, _mm512_mask2_permutex2var_epi8(l, table(kDop[b]), kDopWordBytes[b], r));
    }
  };
  return eachLoadedGroup<WireLayout::Dop, __m512i, false>(job, out, step);
}

}  // namespace

constinit const KernelRow kAvx512Kernels = rowOf<64>(pack24<false>, pack24<true>, packDop);

}  // namespace tavro::stream::kernels

#endif
