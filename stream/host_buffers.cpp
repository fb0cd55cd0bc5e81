#include "stream/host_buffers.h"

#include <limits>

namespace tavro::stream {

bool HostBuffers::add(int32_t channel, void** block) noexcept {
  if (count_ == kMaxChannels) return false;
  *block = nullptr;
  channels_[count_] = channel;
  // Null when the size cannot be allocated: a non-positive size, or one the
  // address space cannot hold.
  const uint64_t bytes = static_cast<uint64_t>(wordsPerHalf_) * 2 * sizeof(uint32_t);
  if (wordsPerHalf_ > 0 && bytes <= std::numeric_limits<size_t>::max()) {
    blocks_[count_] = platform::Pages(static_cast<size_t>(bytes));
    *block = blocks_[count_].get();
  }
  ++count_;
  return true;
}

}  // namespace tavro::stream
