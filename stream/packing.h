#pragma once
// Turns one half of the two output channels into the packet the streamer
// reads: interleaved stereo frames, left first, in one of four byte layouts.
// Pure functions over plain inputs, so that they can be tested and measured
// without a driver object.
#include <cstddef>
#include <cstdint>

namespace tavro::stream {

enum class WireLayout : uint8_t {
  Pcm16,  // the upper 16 bits of each sample
  Pcm24,  // the upper 24 bits of each sample
  Pcm32,  // the whole sample
  Dop,    // DSD over PCM: two 24-bit frames per word, markers 0x05 then 0xFA
};

// DSD rates always leave as DSD over PCM, whatever the word length says: a
// PCM layout there would size the packet by bufferFrames while only one word
// per 32 frames exists to fill it.
WireLayout wireLayout(int32_t wireBits, double sampleRate) noexcept;

// Bytes one input frame (one word of each channel) becomes on the wire.
constexpr uint32_t bytesPerFrame(WireLayout layout) noexcept {
  switch (layout) {
    case WireLayout::Pcm16:
      return 4;
    case WireLayout::Pcm24:
      return 6;
    case WireLayout::Pcm32:
      return 8;
    case WireLayout::Dop:
      return 12;
  }
  return 0;
}

// Exactly the bytes packing writes for `bufferFrames`: also the size the
// packet buffer needs before the transport's own bytes. Zero for a
// non-positive count or a size past 32 bits.
uint32_t packetBytes(WireLayout layout, int32_t bufferFrames) noexcept;

// The level and polarity change a listener can ask for. Applied to PCM
// samples only: below 2000000 Hz, and never in the DSD-over-PCM layout.
struct PcmAdjust {
  uint32_t shift = 0;   // arithmetic right shift, 0 to 31
  bool invert = false;  // negate (the most negative sample stays as it is)
};

// The adjustment for a stream at `sampleRate`: the shift is taken modulo 32,
// so 32 leaves the samples alone; DSD rates get none.
PcmAdjust pcmAdjust(double sampleRate, uint32_t sampleShift, uint32_t invertPolarity) noexcept;

struct PackJob {
  const uint32_t* left;   // `frames` words of the first channel
  const uint32_t* right;  // `frames` words of the second channel
  uint32_t frames;
  WireLayout layout;
  PcmAdjust adjust;  // ignored in the DSD-over-PCM layout
};

// Ways to run the same packing; every one writes the same bytes.
// Avx512 needs AVX-512 BW and VBMI.
enum class PackPath : uint8_t { Scalar, Sse2, Ssse3, Avx2, Avx512, Count };

const char* pathName(PackPath path) noexcept;
// Whether this processor (and this build) can run `path`.
bool pathAvailable(PackPath path) noexcept;
// The fastest available path; the processor is asked once, when the module
// loads (or at the first call before that).
PackPath bestPath() noexcept;

// Writes exactly frames x bytesPerFrame(layout) bytes to `out`, reads exactly
// `frames` words of each channel. Allocates nothing and takes no lock.
void pack(const PackJob& job, uint8_t* out) noexcept;
// The same by a chosen path; an unavailable path falls back to Scalar.
void packWith(PackPath path, const PackJob& job, uint8_t* out) noexcept;

}  // namespace tavro::stream
