#pragma once
// The two questions asked once per init, right after the greeting.

#include <cstdint>

#include "control/control_connection.h"
#include "control/streamer_settings.h"

namespace tavro::control {

inline constexpr char kSettingsQuery[] = "sget*";
inline constexpr char kInterfacesQuery[] = "sgetAudioInterfaces";

// "sget*" fills bufferSizeIndex and settings, "sgetAudioInterfaces" the
// interface list. False when a reply is incomplete or does not begin with
// "s": nothing is changed by the failing step, what an earlier step applied
// stays. A failed send shows up as the missing reply.
bool queryStreamerSettings(Connection& connection, uint32_t& bufferSizeIndex,
                           StreamerSettings& settings) noexcept;

}  // namespace tavro::control
