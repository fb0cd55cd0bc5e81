#include "platform/thread.h"

#include <time.h>

#include "platform/fault.h"

namespace tavro::platform {

void sleepMilliseconds(uint32_t milliseconds) noexcept {
  if (injected(Call::Sleep)) return;
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0) {
  }
}

}  // namespace tavro::platform
