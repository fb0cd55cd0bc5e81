#include "sink/os/clock.h"

#include <time.h>

namespace tavro::sink::os {

int64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace tavro::sink::os
