#include "platform/user_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/fault.h"

namespace tavro::platform {

bool profileFilePath(const char* fileName, char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetEnvironmentVariableA)) return false;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return false;
  const size_t folder = std::strlen(home);
  const size_t name = std::strlen(fileName);
  if (folder + 1 + name >= size) return false;
  // The folder, then '/' and the name with its NUL: the text ends at the last copy.
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
  std::memcpy(buffer, home, folder);
  buffer[folder] = '/';
  std::memcpy(buffer + folder + 1, fileName, name + 1);
  return true;
}

bool fileExists(const char* path) noexcept {
  if (injected(Call::GetFileAttributesA)) return false;
  struct stat status;
  return ::stat(path, &status) == 0;
}

bool appendToExistingFile(const char* path, const char* text, uint32_t length) noexcept {
  if (injected(Call::AppendToFile)) return false;
  // No O_CREAT: the user's file is the switch, so it is never made here.
  const int file = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  if (file < 0) return false;
  const ssize_t written = ::write(file, text, length);
  ::close(file);
  return written == static_cast<ssize_t>(length);
}

}  // namespace tavro::platform
