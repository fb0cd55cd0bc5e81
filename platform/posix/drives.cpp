#include "platform/drives.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

constexpr uint32_t kDriveUnknown = 0;
constexpr uint32_t kDriveNoRootDir = 1;
constexpr uint32_t kDriveFixed = 3;

struct Drive {
  char letter = 0;
  std::string_view type;
  std::string_view folder;
};

// Calls `visit` for each well-formed "L=type:/folder" entry of $TAVRO_DRIVES
// until it returns false. Reads the variable in place: no allocation, since
// the drive check runs on the streaming thread.
template <typename Visit>
void forEachDrive(Visit visit) noexcept {
  const char* list = std::getenv("TAVRO_DRIVES");
  if (list == nullptr) return;
  std::string_view rest(list);
  while (!rest.empty()) {
    const size_t end = rest.find(';');
    const std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const size_t colon = entry.find(':');
    if (entry.size() < 3 || entry[1] != '=' || colon == std::string_view::npos) continue;
    const char letter = entry[0];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) continue;
    if (!visit(Drive{static_cast<char>(letter & ~0x20), entry.substr(2, colon - 2),
                     entry.substr(colon + 1)})) {
      return;
    }
  }
}

bool isRoot(const char* root, char letter) noexcept {
  return root != nullptr && (root[0] & ~0x20) == letter && root[1] == ':';
}

}  // namespace

uint32_t logicalDriveRoots(char* buffer, uint32_t size) noexcept {
  if (injected(Call::GetLogicalDrives)) return 0;
  uint32_t length = 0;
  bool fits = true;
  forEachDrive([&](const Drive& drive) {
    if (length + 5 > size) return fits = false;
    std::memcpy(buffer + length, "?:\\", 4);
    buffer[length] = drive.letter;
    length += 4;
    return true;
  });
  if (!fits || length + 1 > size) return 0;
  buffer[length] = '\0';
  return length;
}

uint32_t driveType(const char* root) noexcept {
  if (injected(Call::GetDriveTypeA)) return kDriveUnknown;
  uint32_t type = kDriveNoRootDir;
  forEachDrive([&](const Drive& drive) {
    if (!isRoot(root, drive.letter)) return true;
    type = drive.type == "removable" ? kDriveRemovable
           : drive.type == "fixed"   ? kDriveFixed
                                     : kDriveUnknown;
    return false;
  });
  return type;
}

bool pathExists(const char* path) noexcept {
  if (injected(Call::GetFileAttributesA)) return false;
  bool exists = false;
  forEachDrive([&](const Drive& drive) {
    if (!isRoot(path, drive.letter)) return true;
    // Only a drive's root is ever asked for; its folder stands for it.
    char folder[512];
    if (drive.folder.size() >= sizeof folder) return false;
    std::memcpy(folder, drive.folder.data(), drive.folder.size());
    folder[drive.folder.size()] = '\0';
    struct stat status;
    exists = ::stat(folder, &status) == 0;
    return false;
  });
  return exists;
}

}  // namespace tavro::platform
