#pragma once
// Logical drives: which exist, which are removable, whether a path is there.
#include <cstdint>

namespace tavro::platform {

inline constexpr uint32_t kDriveRemovable = 2;  // DRIVE_REMOVABLE

// GetLogicalDriveStringsA: roots such as "C:\", each NUL-terminated, the list
// ended by an empty one. The length written without the final NUL, or 0 when
// the list cannot be read or does not fit.
//
// Linux has no drive letters. There the list comes from $TAVRO_DRIVES, e.g.
// "C=fixed:/;E=removable:/media/usb": a letter, its type and the folder that
// stands for its root.
uint32_t logicalDriveRoots(char* buffer, uint32_t size) noexcept;
// GetDriveTypeA of a root.
uint32_t driveType(const char* root) noexcept;
// GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES.
bool pathExists(const char* path) noexcept;

}  // namespace tavro::platform
