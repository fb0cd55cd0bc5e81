#include "platform/thread.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

void sleepMilliseconds(uint32_t milliseconds) noexcept {
  if (injected(Call::Sleep)) return;
  Sleep(milliseconds);
}

}  // namespace tavro::platform
