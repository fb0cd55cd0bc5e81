#include "com/unknown.h"

#include <algorithm>

namespace tavro::com {

CUnknown::CUnknown(const char* /*name*/, IUnknown* outer) noexcept
    : owner_(outer != nullptr
                 ? outer
                 : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))) {}

HResult CUnknown::InnerQueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  if (iid == kIidIUnknown) {
    *out = static_cast<INonDelegatingUnknown*>(this);
    InnerAddRef();
    return kSOk;
  }
  *out = nullptr;
  return kENoInterface;
}

uint32_t CUnknown::InnerAddRef() {
  const int32_t count = references_.fetch_add(1, std::memory_order_acq_rel) + 1;
  return static_cast<uint32_t>(std::max(count, 1));
}

uint32_t CUnknown::InnerRelease() {
  const int32_t count = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) {
    // Back to 1 first, so a release from inside the destructor cannot re-enter.
    references_.store(1, std::memory_order_release);
    delete this;
    return 0;
  }
  return static_cast<uint32_t>(std::max(count, 1));
}

HResult CUnknown::getInterface(IUnknown* pointer, void** out) noexcept {
  if (out == nullptr) return kEPointer;
  *out = pointer;
  pointer->AddRef();
  return kSOk;
}

}  // namespace tavro::com
