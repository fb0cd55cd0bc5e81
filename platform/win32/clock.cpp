#include "platform/clock.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

uint64_t monotonicNanoseconds() noexcept {
  if (injected(Call::QueryPerformanceCounter)) return 0;
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&frequency) ||
      frequency.QuadPart <= 0 || counter.QuadPart < 0) {
    return 0;
  }
  // Whole seconds and the remainder apart: counter * 1e9 would overflow after
  // about 15 minutes of uptime at a 10 MHz counter.
  const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
  const uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
  constexpr uint64_t kNanosecondsPerSecond = 1000000000;
  return ticks / perSecond * kNanosecondsPerSecond +
         ticks % perSecond * kNanosecondsPerSecond / perSecond;
}

}  // namespace tavro::platform
