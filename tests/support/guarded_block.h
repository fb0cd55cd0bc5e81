#pragma once
// A block of memory whose last byte sits right before an inaccessible page, so
// that reading or writing one byte past it faults at once (and AddressSanitizer
// reports where).
#include <cstddef>
#include <cstdint>

namespace tavro::testing {

class GuardedBlock {
 public:
  explicit GuardedBlock(size_t bytes);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  // Null when the pages could not be had.
  uint8_t* data() const { return data_; }
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(data_);
  }

 private:
  void* base_ = nullptr;
  size_t total_ = 0;
  uint8_t* data_ = nullptr;
};

}  // namespace tavro::testing
