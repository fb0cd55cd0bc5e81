#include "platform/version.h"

#include <windows.h>

#include "platform/version_fault.h"

namespace tavro::platform {

static_assert(sizeof(OSVERSIONINFOA) == 148);

bool windowsVersion(OsVersion* out) noexcept {
  *out = {};
  bool succeeded = false;
  if (injectedVersion(out, &succeeded)) return succeeded;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  // Deprecated, and that is the point: the driver must see what the host
  // process is told, not what the system is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(&info) == FALSE) return false;
#pragma GCC diagnostic pop
  out->major = info.dwMajorVersion;
  out->minor = info.dwMinorVersion;
  return true;
}

}  // namespace tavro::platform
