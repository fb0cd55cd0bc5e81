#pragma once
// Named kernel objects whose existence other processes can test.

namespace tavro::platform {

using KernelHandle = void*;

// OpenMutexA(SYNCHRONIZE, FALSE, name): a handle when the mutex exists, else null.
KernelHandle openMutex(const char* name) noexcept;
// CreateMutexA(default security, not owned, name): a handle, or null on failure.
KernelHandle createMutex(const char* name) noexcept;
// CloseHandle. Null is ignored.
void closeHandle(KernelHandle handle) noexcept;

}  // namespace tavro::platform
