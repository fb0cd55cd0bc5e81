#pragma once
// The one TCP control connection to the streamer, shared by every driver
// object in the process.
#include <atomic>

#include "asio/asio.h"
#include "platform/net.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::control {

inline constexpr char kStreamerPort[] = "48168";
inline constexpr char kSinglePcHost[] = "127.0.0.1";

std::atomic<platform::Socket>& controlSocket() noexcept;

// Shuts down and closes whatever socket it takes out of controlSocket. Two
// threads may call it at once: only one of them gets the handle to close.
void closeControlConnection() noexcept;

// Registry settings, connection, greeting and settings query. False leaves
// the connection closed, with errorText and notification set as the step says.
bool connectStreamer(driver::Vantrel& driver) noexcept;

// Connects to hostName:portText and greets the streamer; its reply names the
// address the driver is seen from, kept in localAddressText. ASE_OK leaves
// the connection open; ASE_NotPresent leaves it closed, with errorText and
// notification set.
asio::AsioError openControlConnection(driver::Vantrel& driver) noexcept;

}  // namespace tavro::control
