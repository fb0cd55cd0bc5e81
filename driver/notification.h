#pragma once
// The driver notification: a broadcast window message whose first parameter
// says what went wrong. The control panel listens for it.
#include <cstdint>

namespace tavro::driver {

inline constexpr char kNotificationMessageName[] = "TAVROStreamerDriver";

enum class Notification : uint32_t {
  kStreamerRefused1 = 1,     // format announcement answered "ERROR 1"
  kStreamerRefused2 = 2,     // ... "ERROR 2"
  kStreamerRefused3 = 3,     // ... "ERROR 3"
  kNoRemovableDrive = 10,    // drive mode, but no removable drive present
  kConnectFailed = 20,       // a socket could not be created, connected or used
  kSetupFailed = 30,         // settings query or packet buffer failed
  kRequestQueueFailed = 80,  // the Registered I/O request queue could not be made
};

}  // namespace tavro::driver
