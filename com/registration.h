#pragma once
// Self-registration: the COM class under HKEY_CLASSES_ROOT\CLSID and the
// driver entry under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, which hosts list.
#include <cstdint>

#include "com/com_types.h"

namespace tavro::com {

inline constexpr char kDriverKeyName[] = "TAVRO Driver";
inline constexpr char kDriverDescription[] = "TAVRO Driver";
inline constexpr char kThreadingModel[] = "Apartment";

// Results of the two workers; only these reach the user.
inline constexpr int32_t kRegistrationOk = 0;
inline constexpr int32_t kModuleNotFound = -101;  // no module of that file name
inline constexpr int32_t kModulePathUnreadable = -102;
inline constexpr int32_t kClassIdNotText = -103;  // StringFromCLSID failed
inline constexpr int32_t kClassIdNotAnsi = -104;  // WideCharToMultiByte failed

// Registers the module loaded as `dllFileName` as the in-process server of
// `clsid` and as the ASIO driver `driverKeyName`. The class keys are left
// alone when they already name this very file; the driver key is always
// written afresh.
int32_t registerServer(const Guid& clsid, const char* dllFileName, const char* driverKeyName,
                       const char* description, const char* threadingModel) noexcept;

// Removes the class keys (whatever file they name) and the driver key.
int32_t unregisterServer(const Guid& clsid, const char* dllFileName,
                         const char* driverKeyName) noexcept;

}  // namespace tavro::com
