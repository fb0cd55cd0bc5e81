#include "stream/removable_drive.h"

#include <cstring>
#include <new>

#include "control/control_connection.h"
#include "control/streamer_host.h"
#include "platform/drives.h"

namespace tavro::stream {
namespace {

constexpr uint32_t kDriveListBytes = 256;

bool streamerOnThisPc(const std::string& hostName) noexcept {
  // A PC whose own address cannot be found is judged by the streamer's
  // address alone.
  char local[control::kValueBufferSize] = {};
  const bool haveLocal = control::thisPcAddress(local);
  return hostName == control::kSinglePcHost ||
         (haveLocal && (hostName == local || std::strcmp(local, control::kSinglePcHost) == 0));
}

}  // namespace

bool findRemovableDrive(const control::StreamerLink& link, std::string& path) noexcept {
  path.clear();
  if (!streamerOnThisPc(link.hostName)) return true;

  char roots[kDriveListBytes] = {};
  const uint32_t length = platform::logicalDriveRoots(roots, sizeof roots);
  char letter = 0;
  for (uint32_t at = 0; at < length && roots[at] != '\0';) {
    const char* root = roots + at;
    if (platform::driveType(root) == platform::kDriveRemovable) letter = root[0];
    at += static_cast<uint32_t>(strnlen(root, length - at)) + 1;
  }
  if (letter == 0) return false;
  try {
    path = {letter, ':', '\\'};
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace tavro::stream
