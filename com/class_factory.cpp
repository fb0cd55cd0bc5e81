#include "com/class_factory.h"

namespace tavro::com {

HResult CClassFactory::QueryInterface(const Guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  if (!(iid == kIidIUnknown) && !(iid == kIidIClassFactory)) return kENoInterface;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return kSOk;
}

uint32_t CClassFactory::AddRef() { return static_cast<uint32_t>(++references_); }

uint32_t CClassFactory::Release() {
  if (--references_ == 0) {
    delete this;
    return 0;
  }
  return static_cast<uint32_t>(references_);
}

HResult CClassFactory::CreateInstance(IUnknown* outer, const Guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  // An aggregating caller may only ask for our inner unknown.
  if (outer != nullptr && !(iid == kIidIUnknown)) return kENoInterface;

  HResult result = kSOk;
  CUnknown* object = entry_->create(outer, &result);
  if (object == nullptr) return kEOutOfMemory;
  if (result < 0) {
    delete object;
    return result;
  }
  // Hold a reference across the query so a failed query destroys the object.
  object->InnerAddRef();
  result = object->InnerQueryInterface(iid, out);
  object->InnerRelease();
  return result;
}

HResult CClassFactory::LockServer(int32_t lock) {
  if (lock != 0) {
    serverLocks().fetch_add(1, std::memory_order_acq_rel);
  } else {
    serverLocks().fetch_sub(1, std::memory_order_acq_rel);
  }
  return kSOk;
}

}  // namespace tavro::com
