#pragma once
// What a step below the driver tells the host when it fails, as a value: the
// ASIO result, the notification to post, and the text getErrorMessage then
// returns. Steps return it; the driver alone sets the text and posts the
// notification, in one place.
//
// The notification is a broadcast window message whose first parameter says
// what went wrong. The control panel listens for it.
#include <cstdint>

#include "asio/asio.h"

namespace tavro::control {

inline constexpr char kNotificationMessageName[] = "TAVROStreamerDriver";
// Held by the driver while a stream it started runs: a stream gets there only
// once the streamer has taken its format, which is how the settings program
// tells that a stream started well.
inline constexpr char kStreamMutexName[] = "Global\\TAVROStreamer Driver";

enum class Notification : uint32_t {
  kNone = 0,                 // nothing is posted
  kStreamerRefused1 = 1,     // format announcement answered "ERROR 1"
  kStreamerRefused2 = 2,     // ... "ERROR 2"
  kStreamerRefused3 = 3,     // ... "ERROR 3"
  kNoRemovableDrive = 10,    // drive mode, but no removable drive present
  kConnectFailed = 20,       // a socket could not be created, connected or used
  kSetupFailed = 30,         // settings query or packet buffer failed
  kRequestQueueFailed = 80,  // the Registered I/O request queue could not be made
};

struct Outcome {
  asio::AsioError result = asio::kAseOk;
  Notification notification = Notification::kNone;
  const char* text = nullptr;  // null: the host's text stays as it was

  bool ok() const noexcept { return result == asio::kAseOk; }
};

inline constexpr Outcome kSucceeded{};

constexpr Outcome failed(const char* text,
                         Notification notification = Notification::kNone) noexcept {
  return {asio::kAseNotPresent, notification, text};
}

constexpr Outcome failed(Notification notification) noexcept {
  return {asio::kAseNotPresent, notification, nullptr};
}

}  // namespace tavro::control
