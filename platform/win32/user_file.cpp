#include "platform/user_file.h"

#include <windows.h>

#include <cstring>

#include "platform/fault.h"

namespace tavro::platform {

bool profileFilePath(const char* fileName, char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetEnvironmentVariableA)) return false;
  const DWORD folder = GetEnvironmentVariableA("USERPROFILE", buffer, size);
  if (folder == 0 || folder >= size) return false;
  const size_t name = std::strlen(fileName);
  if (folder + 1 + name >= size) return false;
  buffer[folder] = '\\';
  std::memcpy(buffer + folder + 1, fileName, name + 1);
  return true;
}

bool fileExists(const char* path) noexcept {
  if (injected(Call::GetFileAttributesA)) return false;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool appendToExistingFile(const char* path, const char* text, uint32_t length) noexcept {
  if (injected(Call::AppendToFile)) return false;
  // OPEN_EXISTING: the user's file is the switch, so it is never made here.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text, length, &written, nullptr);
  CloseHandle(file);
  return ok && written == length;
}

}  // namespace tavro::platform
