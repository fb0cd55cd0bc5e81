#include "driver/sample_position.h"

#include <cmath>

namespace tavro::driver {

uint32_t positionLowWord(double frames) noexcept {
  // A direct cast is undefined beyond the integer's range; fmod is exact.
  if (!(frames >= 0.0) || !std::isfinite(frames)) return 0;
  constexpr double kTwoTo32 = 4294967296.0;
  return static_cast<uint32_t>(std::fmod(std::trunc(frames), kTwoTo32));
}

asio::AsioTimeStamp toTimeStamp(uint64_t nanoseconds) noexcept {
  return {static_cast<uint32_t>(nanoseconds >> 32), static_cast<uint32_t>(nanoseconds)};
}

}  // namespace tavro::driver
