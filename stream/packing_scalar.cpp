// The reference: one frame at a time, every byte spelled out. The vector
// kernels must match it byte for byte, and it packs whatever frames they leave.
#include <initializer_list>

#include "stream/packing_kernels.h"

namespace tavro::stream::kernels {
namespace {

inline uint32_t adjusted(uint32_t word, const PcmAdjust& adjust) noexcept {
  if (adjust.invert) word = 0u - word;  // unsigned, so the most negative value wraps to itself
  return static_cast<uint32_t>(static_cast<int32_t>(word) >> adjust.shift);
}

inline uint8_t byteOf(uint32_t word, int index) noexcept {
  return static_cast<uint8_t>(word >> (8 * index));
}

}  // namespace

void packScalarFrom(const PackJob& job, uint32_t first, uint8_t* out) noexcept {
  const PcmAdjust adjust{job.adjust.shift & 31u, job.adjust.invert};
  uint8_t* o = out + static_cast<size_t>(first) * bytesPerFrame(job.layout);
  for (uint32_t i = first; i < job.frames; ++i) {
    if (job.layout == WireLayout::Dop) {
      const uint32_t l = job.left[i];
      const uint32_t r = job.right[i];
      const uint8_t frame[12] = {byteOf(l, 1), byteOf(l, 0), 0x05,         byteOf(r, 1),
                                 byteOf(r, 0), 0x05,         byteOf(l, 3), byteOf(l, 2),
                                 0xFA,         byteOf(r, 3), byteOf(r, 2), 0xFA};
      for (uint8_t byte : frame) *o++ = byte;
      continue;
    }
    for (const uint32_t word : {adjusted(job.left[i], adjust), adjusted(job.right[i], adjust)}) {
      switch (job.layout) {
        case WireLayout::Pcm32:
          *o++ = byteOf(word, 0);
          [[fallthrough]];
        case WireLayout::Pcm24:
          *o++ = byteOf(word, 1);
          [[fallthrough]];
        case WireLayout::Pcm16:
        default:
          *o++ = byteOf(word, 2);
          *o++ = byteOf(word, 3);
      }
    }
  }
}

}  // namespace tavro::stream::kernels
