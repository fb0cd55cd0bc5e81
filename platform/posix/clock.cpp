#include "platform/clock.h"

#include <time.h>

#include "platform/fault.h"

namespace tavro::platform {

uint64_t monotonicNanoseconds() noexcept {
  if (injected(Call::QueryPerformanceCounter)) return 0;
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace tavro::platform
