#include "sink/os/program_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace tavro::sink::os {

std::string logFilePath(const char* /*name*/) { return {}; }

void useStartingConsole() {}

bool AppendFile::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat status {};
  size_ = ::fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  handle_ = fd;
  return true;
}

void AppendFile::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
}

bool AppendFile::isOpen() const { return handle_ >= 0; }

bool AppendFile::appendLine(const std::string& line) {
  if (handle_ < 0) return false;
  const std::string text = line + "\n";
  // One write per line: a reader never sees half of one.
  const ssize_t written = ::write(static_cast<int>(handle_), text.data(), text.size());
  if (written > 0) size_ += static_cast<uint64_t>(written);
  return written == static_cast<ssize_t>(text.size());
}

bool replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace tavro::sink::os
