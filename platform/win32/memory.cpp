#include "platform/memory.h"

#include <windows.h>

#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {

void* allocatePages(size_t bytes) noexcept {
  if (injected(Call::VirtualAlloc)) return nullptr;
  void* block = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (block != nullptr) countOpened(Resource::kPages);
  return block;
}

void freePages(void* block) noexcept {
  if (injected(Call::VirtualFree) || block == nullptr) return;
  if (VirtualFree(block, 0, MEM_RELEASE)) countClosed(Resource::kPages);
}

}  // namespace tavro::platform
