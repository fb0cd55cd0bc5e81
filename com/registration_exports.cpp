#include "com/exports.h"

// Registration arrives with the registry layer; until then both report failure.
extern "C" tavro::com::HResult TAVRO_STDCALL DllRegisterServer() { return tavro::com::kEFail; }
extern "C" tavro::com::HResult TAVRO_STDCALL DllUnregisterServer() { return tavro::com::kEFail; }
