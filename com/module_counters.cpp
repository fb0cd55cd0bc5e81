#include "com/module_counters.h"

namespace tavro::com {

std::atomic<int32_t>& activeObjects() noexcept {
  static std::atomic<int32_t> count{0};
  return count;
}

std::atomic<int32_t>& serverLocks() noexcept {
  static std::atomic<int32_t> count{0};
  return count;
}

}  // namespace tavro::com
