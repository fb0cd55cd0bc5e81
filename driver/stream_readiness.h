#pragma once
// What start checks of the output buffers before it builds a stream. Packing
// reads one half of both channels, `framesPerHalf` words each, at an offset
// of `currentHalf` halves; it must never meet a missing buffer or run past a
// half, so a stream whose buffers do not fit is refused instead.
#include <cstdint>

namespace tavro::driver {

enum class BufferRefusal {
  kNone,
  kMissingChannel,  // fewer than two buffers: there is no silent stand-in
  kSizeMismatch,    // the halves are not the halves packing reads
};

struct OutputBufferState {
  const void* buffers[2];
  int32_t bufferCount;
  int32_t wordsPerHalf;  // as createBuffers made them
  int32_t bufferFrames;  // as the last getBufferSize answered
  double sampleRate;
};

BufferRefusal checkOutputBuffers(const OutputBufferState& state) noexcept;

// The error text start leaves for a refusal; null for kNone.
const char* refusalText(BufferRefusal refusal) noexcept;

}  // namespace tavro::driver
