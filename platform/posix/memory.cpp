#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {
namespace {

size_t pageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

// munmap needs the length that VirtualFree does not, so each block carries it
// in one page of its own just below the page-aligned address handed out.
void* allocatePages(size_t bytes) noexcept {
  if (injected(Call::VirtualAlloc)) return nullptr;
  const size_t page = pageSize();
  if (bytes > SIZE_MAX - 2 * page) return nullptr;
  const size_t total = page + (bytes + page - 1) / page * page;
  void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  *static_cast<size_t*>(base) = total;
  countOpened(Resource::kPages);
  return static_cast<char*>(base) + page;
}

void freePages(void* block) noexcept {
  if (injected(Call::VirtualFree) || block == nullptr) return;
  char* base = static_cast<char*>(block) - pageSize();
  if (munmap(base, *reinterpret_cast<size_t*>(base)) == 0) countClosed(Resource::kPages);
}

}  // namespace tavro::platform
