#pragma once
#include <cstdint>

#include "com/class_table.h"
#include "com/com_types.h"
#include "com/unknown.h"

namespace tavro::com {

class CClassFactory final : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const ClassEntry* entry) noexcept : entry_(entry) {}

  HResult TAVRO_STDCALL QueryInterface(const Guid& iid, void** out) override;
  uint32_t TAVRO_STDCALL AddRef() override;
  uint32_t TAVRO_STDCALL Release() override;
  HResult TAVRO_STDCALL CreateInstance(IUnknown* outer, const Guid& iid, void** out) override;
  HResult TAVRO_STDCALL LockServer(int32_t lock) override;

 private:
  ~CClassFactory() = default;

  const ClassEntry* const entry_;
  // A factory is used by the thread that asked for it; a plain count will do.
  int32_t references_ = 0;
};

}  // namespace tavro::com
