#include "platform/event.h"

#include <windows.h>

#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {

KernelHandle createEvent() noexcept {
  if (injected(Call::CreateEventA)) return nullptr;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event != nullptr) countOpened(Resource::kHandle);
  return event;
}

bool setEvent(KernelHandle event) noexcept {
  if (injected(Call::SetEvent) || event == nullptr) return false;
  return SetEvent(event) != FALSE;
}

WaitResult waitForEvent(KernelHandle event, uint32_t milliseconds) noexcept {
  if (injected(Call::WaitForSingleObject)) return WaitResult::kFailed;
  switch (WaitForSingleObject(event, milliseconds)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignalled;
    case WAIT_TIMEOUT:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

void closeEvent(KernelHandle event) noexcept {
  if (injected(Call::CloseHandle) || event == nullptr) return;
  if (CloseHandle(event)) countClosed(Resource::kHandle);
}

}  // namespace tavro::platform
