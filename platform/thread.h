#pragma once
// Threads, priorities, processor affinity and pauses.
#include <cstdint>

namespace tavro::platform {

// Sleep(milliseconds).
void sleepMilliseconds(uint32_t milliseconds) noexcept;

}  // namespace tavro::platform
