#pragma once
// The position record hosts read: a 64-bit count in two 32-bit words.
#include <cstdint>

#include "asio/asio.h"

namespace tavro::driver {

// `frames` truncated to a whole number and cut to its low 32 bits, exactly,
// whatever the size of the double. A NaN, an infinity or a negative count
// gives 0.
uint32_t positionLowWord(double frames) noexcept;

asio::AsioTimeStamp toTimeStamp(uint64_t nanoseconds) noexcept;

}  // namespace tavro::driver
