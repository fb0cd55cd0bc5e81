#include "platform/drives.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

uint32_t logicalDriveRoots(char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetLogicalDrives)) return 0;
  const DWORD length = GetLogicalDriveStringsA(size, buffer);
  return length < size ? length : 0;
}

uint32_t driveType(const char* root) noexcept {
  if (injected(Call::GetDriveTypeA)) return DRIVE_UNKNOWN;
  return GetDriveTypeA(root);
}

bool pathExists(const char* path) noexcept {
  if (injected(Call::GetFileAttributesA)) return false;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tavro::platform
