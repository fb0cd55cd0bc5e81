#pragma once
// The one TCP control connection to the streamer, shared by every driver
// object in the process.
#include <atomic>
#include <cstdint>
#include <string>

#include "control/outcome.h"
#include "control/streamer_settings.h"
#include "platform/net.h"

namespace tavro::control {

inline constexpr char kStreamerPort[] = "48168";
inline constexpr char kSinglePcHost[] = "127.0.0.1";

std::atomic<platform::Socket>& controlSocket() noexcept;

// Shuts down and closes whatever socket it takes out of controlSocket. Two
// threads may call it at once: only one of them gets the handle to close.
void closeControlConnection() noexcept;

// What init learns of the streamer and keeps for every start after it.
struct StreamerLink {
  std::string hostName;
  std::string portText;
  std::string localAddressText;  // this PC as the streamer sees it
  StreamerSettings settings;
  uint32_t bufferSizeIndex = 0;
};

// Registry settings, connection, greeting and settings query. A failure
// leaves the connection closed and says what to report.
Outcome connectStreamer(StreamerLink& link) noexcept;

// Connects to hostName:portText and greets the streamer; its reply names the
// address the driver is seen from, kept in localAddressText. Success leaves
// the connection open; a failure leaves it closed.
Outcome openControlConnection(StreamerLink& link) noexcept;

}  // namespace tavro::control
