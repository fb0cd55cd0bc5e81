#include "platform/sync.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

KernelHandle openMutex(const char* name) noexcept {
  if (injected(Call::OpenMutexA)) return nullptr;
  return OpenMutexA(SYNCHRONIZE, FALSE, name);
}

KernelHandle createMutex(const char* name) noexcept {
  if (injected(Call::CreateMutexA)) return nullptr;
  return CreateMutexA(nullptr, FALSE, name);
}

void closeHandle(KernelHandle handle) noexcept {
  if (injected(Call::CloseHandle) || handle == nullptr) return;
  CloseHandle(handle);
}

}  // namespace tavro::platform
