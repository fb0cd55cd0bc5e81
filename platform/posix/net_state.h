#pragma once
#include <atomic>

namespace tavro::platform {
// Winsock's start-up count, mirrored so that the POSIX backend fails socket
// creation exactly when Winsock would.
extern std::atomic<int> netUsers;
}  // namespace tavro::platform
