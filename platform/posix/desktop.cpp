#include "platform/desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

// Window-message ids live in the range Windows gives registered messages.
constexpr uint32_t kFirstRegisteredMessage = 0xC000;

std::mutex namesLock;
std::vector<std::string>& messageNames() {
  static std::vector<std::string> names;
  return names;
}

std::string logPath() {
  if (const char* path = std::getenv("TAVRO_DESKTOP_LOG"); path != nullptr && *path != '\0') {
    return path;
  }
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tavro-desktop.log";
}

void appendLine(const std::string& line) {
  const int fd = open(logPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // One write per line keeps lines whole when several processes append.
  [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
  close(fd);
}

}  // namespace

uint32_t registerWindowMessage(const char* name) noexcept {
  if (injected(Call::RegisterWindowMessageA)) return 0;
  try {
    std::lock_guard lock(namesLock);
    auto& names = messageNames();
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return kFirstRegisteredMessage + static_cast<uint32_t>(i);
    }
    names.emplace_back(name);
    return kFirstRegisteredMessage + static_cast<uint32_t>(names.size() - 1);
  } catch (...) {
    return 0;
  }
}

void broadcastMessage(uint32_t message, uintptr_t code) noexcept {
  if (injected(Call::PostMessageA)) return;
  try {
    std::string name;
    {
      std::lock_guard lock(namesLock);
      const auto& names = messageNames();
      if (message >= kFirstRegisteredMessage && message - kFirstRegisteredMessage < names.size()) {
        name = names[message - kFirstRegisteredMessage];
      } else {
        name = std::to_string(message);
      }
    }
    appendLine("message " + name + " " + std::to_string(code) + "\n");
  } catch (...) {
  }
}

void messageBox(const char* text, const char* caption) noexcept {
  if (injected(Call::MessageBoxA)) return;
  try {
    appendLine(std::string("messagebox ") + caption + ": " + text + "\n");
  } catch (...) {
  }
}

}  // namespace tavro::platform
