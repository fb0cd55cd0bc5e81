#include "support/guarded_block.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tavro::testing {
namespace {

size_t pageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

GuardedBlock::GuardedBlock(size_t bytes) {
  const size_t page = pageSize();
  const size_t usable = (bytes + page - 1) / page * page;
  total_ = usable + page;
#ifdef _WIN32
  base_ = VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base_ == nullptr) return;
  DWORD old = 0;
  if (!VirtualProtect(static_cast<char*>(base_) + usable, page, PAGE_NOACCESS, &old)) return;
#else
  base_ = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base_ == MAP_FAILED) {
    base_ = nullptr;
    return;
  }
  if (mprotect(static_cast<char*>(base_) + usable, page, PROT_NONE) != 0) return;
#endif
  data_ = static_cast<uint8_t*>(base_) + usable - bytes;
}

GuardedBlock::~GuardedBlock() {
  if (base_ == nullptr) return;
#ifdef _WIN32
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, total_);
#endif
}

}  // namespace tavro::testing
