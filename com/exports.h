#pragma once
// The five entry points the DLL exports, undecorated, in every build.
#include <cstdint>

#include "com/com_types.h"

extern "C" {
TAVRO_EXPORT tavro::com::HResult TAVRO_STDCALL DllGetClassObject(const tavro::com::Guid* clsid,
                                                                 const tavro::com::Guid* iid,
                                                                 void** out);
TAVRO_EXPORT tavro::com::HResult TAVRO_STDCALL DllCanUnloadNow();
TAVRO_EXPORT int32_t TAVRO_STDCALL DllMain(void* instance, uint32_t reason, void* reserved);
TAVRO_EXPORT tavro::com::HResult TAVRO_STDCALL DllRegisterServer();
TAVRO_EXPORT tavro::com::HResult TAVRO_STDCALL DllUnregisterServer();
}
