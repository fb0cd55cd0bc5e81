#pragma once
// Whole committed read-write pages from the system's virtual-memory allocator.
#include <cstddef>

namespace tavro::platform {

// VirtualAlloc(MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE): zero-filled and
// page-aligned, or null.
void* allocatePages(size_t bytes) noexcept;
// VirtualFree(MEM_RELEASE) of a block from allocatePages. Null is ignored.
void freePages(void* block) noexcept;

}  // namespace tavro::platform
