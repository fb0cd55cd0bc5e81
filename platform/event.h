#pragma once
// Auto-reset events: one thread waits with a time-out, another sets it.
#include <cstdint>

#include "platform/sync.h"

namespace tavro::platform {

// CreateEventA(no security, auto-reset, not signalled, no name): a handle, or
// null. An eventfd on Linux.
KernelHandle createEvent() noexcept;

// SetEvent. False on failure or for a null handle.
bool setEvent(KernelHandle event) noexcept;

enum class WaitResult { kSignalled, kTimedOut, kFailed };

// WaitForSingleObject(event, milliseconds): a signal wakes one wait and is
// consumed by it, as with an auto-reset event.
WaitResult waitForEvent(KernelHandle event, uint32_t milliseconds) noexcept;

// CloseHandle of an event. Null is ignored.
void closeEvent(KernelHandle event) noexcept;

}  // namespace tavro::platform
