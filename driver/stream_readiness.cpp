#include "driver/stream_readiness.h"

#include "control/error_texts.h"
#include "driver/vantrel.h"
#include "stream/dsd_rates.h"

namespace tavro::driver {

BufferRefusal checkOutputBuffers(const OutputBufferState& state) noexcept {
  if (state.bufferCount < 2 || state.buffers[0] == nullptr || state.buffers[1] == nullptr) {
    return BufferRefusal::kMissingChannel;
  }
  // Equal, not merely large enough: the host fills half 1 at its own offset,
  // and packing looks for it one packing half in.
  const int32_t readPerHalf = stream::framesPerHalf(state.bufferFrames, state.sampleRate);
  if (readPerHalf <= 0 || state.wordsPerHalf != readPerHalf) return BufferRefusal::kSizeMismatch;
  return BufferRefusal::kNone;
}

OutputBufferState Vantrel::outputBufferState() const noexcept {
  if (prepared == nullptr) return {{nullptr, nullptr}, 0, 0, bufferFrames, sampleRate};
  const stream::HostBuffers& host = prepared->buffers;
  return {{host.count() > 0 ? host.block(0) : nullptr, host.count() > 1 ? host.block(1) : nullptr},
          host.count(),
          host.wordsPerHalf(),
          bufferFrames,
          sampleRate};
}

const char* refusalText(BufferRefusal refusal) noexcept {
  switch (refusal) {
    case BufferRefusal::kMissingChannel:
      return control::errors::kOutputBuffersMissing;
    case BufferRefusal::kSizeMismatch:
      return control::errors::kOutputBuffersMismatch;
    case BufferRefusal::kNone:
      break;
  }
  return nullptr;
}

}  // namespace tavro::driver
