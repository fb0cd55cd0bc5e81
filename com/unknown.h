#pragma once
// The reference-counted base of every COM object the module creates.
#include <atomic>
#include <cstdint>

#include "com/com_types.h"
#include "com/module_counters.h"

namespace tavro::com {

// Counts live objects so DllCanUnloadNow knows when the module is idle.
class CBaseObject {
 public:
  CBaseObject() noexcept { activeObjects().fetch_add(1, std::memory_order_acq_rel); }
  ~CBaseObject() { activeObjects().fetch_sub(1, std::memory_order_acq_rel); }
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
};

// The object's own IUnknown, which never delegates. Its table has the shape of
// IUnknown's, so it can stand in as the owner when nobody aggregates us.
struct INonDelegatingUnknown {
  virtual HResult TAVRO_STDCALL InnerQueryInterface(const Guid& iid, void** out) = 0;
  virtual uint32_t TAVRO_STDCALL InnerAddRef() = 0;
  virtual uint32_t TAVRO_STDCALL InnerRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // `name` is for debugging only and is not kept.
  CUnknown(const char* name, IUnknown* outer) noexcept;
  virtual ~CUnknown() = default;

  HResult TAVRO_STDCALL InnerQueryInterface(const Guid& iid, void** out) override;
  uint32_t TAVRO_STDCALL InnerAddRef() override;
  uint32_t TAVRO_STDCALL InnerRelease() override;

  // The outer unknown when aggregated, else this object's own unknown.
  IUnknown* owner() const noexcept { return owner_; }
  int32_t referenceCount() const noexcept { return references_.load(std::memory_order_acquire); }

 protected:
  // Hands out `pointer` with a reference taken through `unknown`.
  static HResult getInterface(IUnknown* pointer, void** out) noexcept;

 private:
  IUnknown* const owner_;
  std::atomic<int32_t> references_{0};
};

}  // namespace tavro::com
