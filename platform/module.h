#pragma once
// Finding this module and the programs beside it.
#include <cstdint>

namespace tavro::platform {

using ModuleHandle = void*;

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The loaded module whose file name is `fileName` (GetModuleHandleA), or null.
ModuleHandle moduleHandleByName(const char* fileName) noexcept;

// Full path of `module` into `buffer` (GetModuleFileNameA). A null module means
// the host program itself. Returns the length written, 0 on failure; a return
// equal to `size` means the path did not fit and was cut.
uint32_t moduleFileName(ModuleHandle module, char* buffer, uint32_t size) noexcept;

}  // namespace tavro::platform
