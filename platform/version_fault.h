#pragma once
// Shared by both backends: a version chosen by an injected fault.
#include "platform/fault.h"
#include "platform/version.h"

namespace tavro::platform {

// True when the call is injected; `out` then holds the chosen version, and the
// result says whether there is one (value 0: the call fails).
inline bool injectedVersion(OsVersion* out, bool* succeeded) noexcept {
  int64_t value = 0;
  if (!injected(Call::GetVersionExA, &value)) return false;
  out->major = static_cast<uint32_t>(value >> 16);
  out->minor = static_cast<uint32_t>(value & 0xFFFF);
  *succeeded = value != 0;
  return true;
}

}  // namespace tavro::platform
