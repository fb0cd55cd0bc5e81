#pragma once
// The Windows version the process is told, which decides whether the data
// transport may use Registered I/O.
#include <cstdint>

namespace tavro::platform {

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
};

// A test makes the version call report major.minor by injecting
// Call::GetVersionExA with this value; with the value 0 the call fails.
constexpr int64_t versionFaultValue(uint32_t major, uint32_t minor) noexcept {
  return (static_cast<int64_t>(major) << 16) | minor;
}

// GetVersionExA with a zeroed 148-byte OSVERSIONINFOA. False, with 0.0 in
// `out`, when the call fails.
//
// Linux has no Windows version: the native build reports 6.2, the version an
// unmanifested process such as a typical ASIO host is told on Windows 8 and
// every later Windows, so that its default path is Registered I/O (io_uring).
// $TAVRO_WINDOWS_VERSION ("6.1", "10.0") reports another.
bool windowsVersion(OsVersion* out) noexcept;

}  // namespace tavro::platform
