#include "platform/module.h"

#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

struct Search {
  const char* fileName;
  const char* found;
};

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The loader names the main program with an empty string; like
// GetModuleHandleA, find it by its file name too. Read once: the path of the
// running program does not change.
const char* mainProgramPath() {
  static const std::string path = [] {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  }();
  return path.c_str();
}

}  // namespace

ModuleHandle moduleHandleByName(const char* fileName) noexcept {
  if (injected(Call::GetModuleHandleA)) return nullptr;
  if (const char* program = mainProgramPath();
      program[0] != '\0' && std::strcmp(baseName(program), fileName) == 0) {
    return const_cast<char*>(program);
  }
  Search search{fileName, nullptr};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' &&
            std::strcmp(baseName(info->dlpi_name), s->fileName) == 0) {
          s->found = info->dlpi_name;
          return 1;
        }
        return 0;
      },
      &search);
  // Like an HMODULE, the handle takes no reference: it is the loader's own copy
  // of the module's path, valid while the module stays loaded.
  return const_cast<char*>(search.found);
}

uint32_t moduleFileName(ModuleHandle module, char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetModuleFileNameA) || size == 0) return 0;
  if (module == nullptr) {
    const ssize_t n = readlink("/proc/self/exe", buffer, size);
    if (n <= 0) return 0;
    if (static_cast<uint32_t>(n) >= size) {
      buffer[size - 1] = '\0';
      return size;
    }
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
  }
  const char* path = static_cast<const char*>(module);
  const size_t length = std::strlen(path);
  if (length >= size) {
    std::memcpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  std::memcpy(buffer, path, length + 1);
  return static_cast<uint32_t>(length);
}

}  // namespace tavro::platform
