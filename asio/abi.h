#pragma once
// Calling conventions of the binary interfaces we share with hosts.
//
// On 32-bit Windows, Microsoft's compiler calls COM's IUnknown methods and the
// exported Dll* functions with __stdcall, plain C++ member functions (the IASIO
// operations) with __thiscall, and free function pointers (the host callbacks)
// with __cdecl. We spell every one of them out instead of trusting a compiler
// default; elsewhere there is one convention and the macros are empty.
#if defined(_WIN32) && defined(__i386__)
#define TAVRO_STDCALL __attribute__((stdcall))
#define TAVRO_THISCALL __attribute__((thiscall))
#define TAVRO_CDECL __attribute__((cdecl))
#else
#define TAVRO_STDCALL
#define TAVRO_THISCALL
#define TAVRO_CDECL
#endif

#if defined(_WIN32)
#define TAVRO_EXPORT
#else
#define TAVRO_EXPORT __attribute__((visibility("default")))
#endif
