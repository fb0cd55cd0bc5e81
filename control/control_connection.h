#pragma once
// The one TCP control connection to the streamer, shared by every driver
// object in the process.
#include <atomic>

#include "platform/net.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::control {

inline constexpr char kStreamerPort[] = "48168";

std::atomic<platform::Socket>& controlSocket() noexcept;

// Shuts down and closes whatever socket it takes out of controlSocket. Two
// threads may call it at once: only one of them gets the handle to close.
void closeControlConnection() noexcept;
inline void closeControlConnectionIfOpen() noexcept { closeControlConnection(); }

// Registry settings, connection, greeting and settings query. False leaves
// the connection closed, with errorText and notification set as the step says.
bool connectStreamer(driver::Vantrel& driver) noexcept;

}  // namespace tavro::control
