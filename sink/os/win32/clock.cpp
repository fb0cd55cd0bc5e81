#include "sink/os/clock.h"

#include <windows.h>

namespace tavro::sink::os {

int64_t monotonicNs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    ::QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  // In two steps: ticks times 1e9 would overflow after a few weeks of uptime.
  const int64_t ticks = now.QuadPart;
  return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

}  // namespace tavro::sink::os
