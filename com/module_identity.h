#pragma once
// The file name under which this module finds itself: TAVRODriver64.dll,
// TAVRODriver.dll, or the native library's name. The build decides.
#ifndef TAVRO_MODULE_FILE_NAME
#error "the build must define TAVRO_MODULE_FILE_NAME"
#endif

namespace tavro::com {
inline constexpr char kModuleFileName[] = TAVRO_MODULE_FILE_NAME;
}  // namespace tavro::com
