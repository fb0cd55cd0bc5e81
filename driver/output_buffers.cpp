// The two-half output buffers a host fills and packing reads.
#include <cstdint>
#include <memory>
#include <new>

#include "driver/vantrel.h"
#include "stream/dsd_rates.h"

namespace tavro::driver {
namespace {

// A host that goes on after a failure must not write into released blocks.
void forgetBuffers(asio::AsioBufferInfo* infos, int32_t served) noexcept {
  for (int32_t i = 0; i < served; ++i) {
    infos[i].buffers[0] = nullptr;
    infos[i].buffers[1] = nullptr;
  }
}

}  // namespace

asio::AsioError Vantrel::createBuffers(asio::AsioBufferInfo* infos, int32_t count,
                                       int32_t bufferSize,
                                       asio::AsioCallbacks* callbacks) noexcept {
  // The streaming thread reads these buffers; replacing them under it would
  // hand it released memory. Hosts stop before they rebuild their buffers.
  if (streamState.ticksWanted()) return asio::kAseInvalidMode;
  releaseEndedStream();
  // Buffers of an earlier call that was not followed by disposeBuffers.
  {
    const std::lock_guard<std::recursive_mutex> guard(callbacksGuard);
    prepared.reset();
  }

  const int32_t words = stream::bufferWordsPerHalf(bufferSize, sampleRate);
  std::unique_ptr<Prepared> made(new (std::nothrow) Prepared(callbacks, words));
  if (!made) return asio::kAseNoMemory;
  bool allocationFailed = false;
  for (int32_t i = 0; i < count; ++i) {
    asio::AsioBufferInfo& info = infos[i];
    void* block = nullptr;
    // The input flag is not looked at: every record is served as an output.
    if (info.channelNum < 0 || info.channelNum > 1 || !made->buffers.add(info.channelNum, &block)) {
      disposeBuffers();
      forgetBuffers(infos, i);
      return asio::kAseInvalidParameter;
    }
    if (block != nullptr) {
      info.buffers[0] = block;
      info.buffers[1] = static_cast<uint32_t*>(block) + words;
    } else {
      info.buffers[0] = nullptr;
      info.buffers[1] = nullptr;
      allocationFailed = true;
    }
  }
  if (allocationFailed) {
    made.reset();
    disposeBuffers();
    forgetBuffers(infos, count);
    return asio::kAseNoMemory;
  }
  const std::lock_guard<std::recursive_mutex> guard(callbacksGuard);
  prepared = std::move(made);
  return asio::kAseOk;
}

asio::AsioError Vantrel::disposeBuffers() noexcept {
  releaseStreamResources();
  return asio::kAseOk;
}

}  // namespace tavro::driver
