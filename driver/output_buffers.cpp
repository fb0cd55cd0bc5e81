// The two-half output buffers a host fills and packing reads.
#include <cstdint>
#include <limits>

#include "driver/vantrel.h"
#include "platform/memory.h"
#include "stream/dsd_rates.h"

namespace tavro::driver {
namespace {

// Both halves of one channel, or null when the size cannot be allocated (a
// non-positive size, or one the address space cannot hold).
void* allocateChannelBlock(int32_t wordsPerHalf) noexcept {
  if (wordsPerHalf <= 0) return nullptr;
  const uint64_t bytes = static_cast<uint64_t>(wordsPerHalf) * 2 * sizeof(uint32_t);
  if (bytes > std::numeric_limits<size_t>::max()) return nullptr;
  return platform::allocatePages(static_cast<size_t>(bytes));
}

// A host that goes on after a failure must not write into released blocks.
void forgetBuffers(asio::AsioBufferInfo* infos, int32_t served) noexcept {
  for (int32_t i = 0; i < served; ++i) {
    infos[i].buffers[0] = nullptr;
    infos[i].buffers[1] = nullptr;
  }
}

}  // namespace

void Vantrel::releaseOutputBuffers() noexcept {
  for (int32_t i = 0; i < bufferCount; ++i) {
    if (outputBuffers[i] != nullptr) platform::freePages(outputBuffers[i]);
    outputBuffers[i] = nullptr;
  }
  bufferCount = 0;
  wordsPerHalf = 0;
}

asio::AsioError Vantrel::createBuffers(asio::AsioBufferInfo* infos, int32_t count,
                                       int32_t bufferSize,
                                       asio::AsioCallbacks* callbacks) noexcept {
  // The streaming thread reads these buffers; replacing them under it would
  // hand it released memory. Hosts stop before they rebuild their buffers.
  if (session.streaming.load(std::memory_order_acquire)) return asio::kAseInvalidMode;
  // Buffers of an earlier call that was not followed by disposeBuffers.
  releaseOutputBuffers();

  const int32_t words = stream::bufferWordsPerHalf(bufferSize, sampleRate);
  bool allocationFailed = false;
  for (int32_t i = 0; i < count; ++i) {
    asio::AsioBufferInfo& info = infos[i];
    // The input flag is not looked at: every record is served as an output.
    if (info.channelNum < 0 || info.channelNum > 1 || bufferCount == 2) {
      disposeBuffers();
      forgetBuffers(infos, i);
      return asio::kAseInvalidParameter;
    }
    activeChannels[bufferCount] = info.channelNum;
    void* block = allocateChannelBlock(words);
    outputBuffers[bufferCount] = block;
    if (block != nullptr) {
      info.buffers[0] = block;
      info.buffers[1] = static_cast<uint32_t*>(block) + words;
    } else {
      info.buffers[0] = nullptr;
      info.buffers[1] = nullptr;
      allocationFailed = true;
    }
    ++bufferCount;
  }
  if (allocationFailed) {
    disposeBuffers();
    forgetBuffers(infos, count);
    return asio::kAseNoMemory;
  }
  wordsPerHalf = words;
  const std::lock_guard<std::recursive_mutex> guard(callbacksGuard);
  hostCallbacks = callbacks;
  return asio::kAseOk;
}

asio::AsioError Vantrel::disposeBuffers() noexcept {
  releaseStreamResources();
  return asio::kAseOk;
}

}  // namespace tavro::driver
