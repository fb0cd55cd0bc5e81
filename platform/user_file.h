#pragma once
// Files a user puts in their profile folder to ask for something, such as the
// driver's log. Such a file is only ever appended to, never created.
#include <cstdint>

namespace tavro::platform {

// `fileName` in the user's profile folder: %USERPROFILE% on Windows, $HOME on
// Linux. False when the folder is unknown or the path does not fit `size`.
bool profileFilePath(const char* fileName, char* buffer, uint32_t size) noexcept;

// Whether a file (or folder) is at `path`: GetFileAttributesA, stat.
bool fileExists(const char* path) noexcept;

// Appends `length` bytes to the end of the file at `path` if it exists; a
// missing file stays missing. False when nothing was written.
bool appendToExistingFile(const char* path, const char* text, uint32_t length) noexcept;

}  // namespace tavro::platform
