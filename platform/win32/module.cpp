#include "platform/module.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

ModuleHandle moduleHandleByName(const char* fileName) noexcept {
  if (injected(Call::GetModuleHandleA)) return nullptr;
  return GetModuleHandleA(fileName);
}

uint32_t moduleFileName(ModuleHandle module, char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetModuleFileNameA)) return 0;
  return GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

}  // namespace tavro::platform
