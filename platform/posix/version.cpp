#include "platform/version.h"

#include <cstdio>
#include <cstdlib>

#include "platform/version_fault.h"

namespace tavro::platform {

bool windowsVersion(OsVersion* out) noexcept {
  *out = {};
  bool succeeded = false;
  if (injectedVersion(out, &succeeded)) return succeeded;
  // A user trying the plain UDP path on Linux says which Windows to be.
  if (const char* chosen = std::getenv("TAVRO_WINDOWS_VERSION")) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(chosen, "%u.%u", &major, &minor) == 2) {
      *out = {major, minor};
      return true;
    }
  }
  *out = {6, 2};
  return true;
}

}  // namespace tavro::platform
