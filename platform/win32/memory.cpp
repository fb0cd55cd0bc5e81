#include "platform/memory.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

void* allocatePages(size_t bytes) noexcept {
  if (injected(Call::VirtualAlloc)) return nullptr;
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void freePages(void* block) noexcept {
  if (injected(Call::VirtualFree) || block == nullptr) return;
  VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace tavro::platform
