#pragma once
// The one clock the sink paces and measures with: monotonic, in nanoseconds.
#include <cstdint>

namespace tavro::sink::os {

int64_t monotonicNs();

}  // namespace tavro::sink::os
