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

namespace tavro::platform {

// One block from allocatePages, freed when it goes.
class Pages {
 public:
  Pages() noexcept = default;
  explicit Pages(size_t bytes) noexcept : block_(allocatePages(bytes)) {}
  ~Pages() { release(); }
  Pages(Pages&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  Pages& operator=(Pages&& other) noexcept {
    if (this != &other) {
      release();
      block_ = other.block_;
      other.block_ = nullptr;
    }
    return *this;
  }
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;

  void* get() const noexcept { return block_; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

 private:
  void release() noexcept {
    if (block_ != nullptr) freePages(block_);
  }

  void* block_ = nullptr;
};

}  // namespace tavro::platform
