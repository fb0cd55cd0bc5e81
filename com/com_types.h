#pragma once
// The few COM types the driver needs, laid out exactly as Windows lays them
// out, so the same declarations serve the DLLs and the native build.
#include <cstdint>
#include <cstring>

#include "asio/abi.h"

namespace tavro::com {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

inline bool operator==(const Guid& a, const Guid& b) noexcept {
  return std::memcmp(&a, &b, sizeof(Guid)) == 0;
}

using HResult = int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kClassENotAvailable = static_cast<HResult>(0x80040111u);
inline constexpr HResult kSelfRegEClass = static_cast<HResult>(0x80040201u);

// {00000000-0000-0000-C000-000000000046}
inline constexpr Guid kIidIUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr Guid kIidIClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// No virtual destructor: the table must hold exactly the three COM slots.
struct IUnknown {
  virtual HResult TAVRO_STDCALL QueryInterface(const Guid& iid, void** out) = 0;
  virtual uint32_t TAVRO_STDCALL AddRef() = 0;
  virtual uint32_t TAVRO_STDCALL Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  virtual HResult TAVRO_STDCALL CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
  virtual HResult TAVRO_STDCALL LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

}  // namespace tavro::com
