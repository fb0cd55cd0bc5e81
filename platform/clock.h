#pragma once
// A steady clock for time stamps handed to hosts.
#include <cstdint>

namespace tavro::platform {

// Nanoseconds of a monotonic clock (QueryPerformanceCounter on Windows,
// CLOCK_MONOTONIC elsewhere); 0 when the clock cannot be read.
uint64_t monotonicNanoseconds() noexcept;

}  // namespace tavro::platform
