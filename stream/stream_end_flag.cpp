#include "stream/stream_end_flag.h"

namespace tavro::stream {
namespace {

std::atomic<EndFlagSeam> endFlagSeam{nullptr};

}  // namespace

void StreamEndFlag::afterRead() noexcept {
  if (const EndFlagSeam seam = endFlagSeam.load(std::memory_order_acquire)) seam();
}

void setEndFlagSeam(EndFlagSeam seam) noexcept {
  endFlagSeam.store(seam, std::memory_order_release);
}

}  // namespace tavro::stream
