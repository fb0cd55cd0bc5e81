#include "platform/version.h"

#include "platform/version_fault.h"

namespace tavro::platform {

bool windowsVersion(OsVersion* out) noexcept {
  *out = {};
  bool succeeded = false;
  if (injectedVersion(out, &succeeded)) return succeeded;
  *out = {6, 2};
  return true;
}

}  // namespace tavro::platform
