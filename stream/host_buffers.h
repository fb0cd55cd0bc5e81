#pragma once
// What createBuffers makes: one block per output channel, both halves in
// it, and the host's callbacks (the host's, not owned). A stream reads them
// for as long as it runs; they are never replaced under it.
#include <cstdint>

#include "asio/asio.h"
#include "platform/memory.h"

namespace tavro::stream {

class HostBuffers {
 public:
  static constexpr int32_t kMaxChannels = 2;

  HostBuffers(asio::AsioCallbacks* callbacks, int32_t wordsPerHalf) noexcept
      : callbacks_(callbacks), wordsPerHalf_(wordsPerHalf) {}

  // The block for the next buffer record, for `channel`; null when it could
  // not be allocated (the record still counts). False when there is no room
  // for another record.
  bool add(int32_t channel, void** block) noexcept;

  int32_t count() const noexcept { return count_; }
  int32_t channel(int32_t buffer) const noexcept { return channels_[buffer]; }
  // Both halves of buffer `buffer`, half 1 wordsPerHalf words in.
  const uint32_t* block(int32_t buffer) const noexcept {
    return static_cast<const uint32_t*>(blocks_[buffer].get());
  }
  int32_t wordsPerHalf() const noexcept { return wordsPerHalf_; }
  asio::AsioCallbacks* callbacks() const noexcept { return callbacks_; }

 private:
  asio::AsioCallbacks* const callbacks_;
  const int32_t wordsPerHalf_;
  platform::Pages blocks_[kMaxChannels];
  int32_t channels_[kMaxChannels] = {0, 0};
  int32_t count_ = 0;
};

}  // namespace tavro::stream
