#pragma once
// An event handle on Linux is an eventfd, kept off zero so that a null handle
// means none.
#include <cstdint>

#include "platform/sync.h"

namespace tavro::platform {

inline int eventFdOf(KernelHandle event) noexcept {
  return static_cast<int>(reinterpret_cast<intptr_t>(event) - 1);
}
inline KernelHandle eventHandleOf(int fd) noexcept {
  return reinterpret_cast<KernelHandle>(static_cast<intptr_t>(fd) + 1);
}

}  // namespace tavro::platform
