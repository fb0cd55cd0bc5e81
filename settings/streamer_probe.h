#pragma once
// The Test button's exchange: what the driver's init says to the streamer
// (greeting, settings query, interface list), then the connection is closed
// again, so the streamer is free for the next player at once.
#include <cstdint>
#include <string>

#include "control/streamer_settings.h"

namespace tavro::settings {

struct ProbeResult {
  bool reached = false;
  // When not reached: the text the driver gives its host for the same failure.
  std::string failureText;
  control::StreamerSettings settings;
  uint32_t bufferIndex = 0;
};

// Blocks for as long as the driver's init would (its reply limit per reply);
// run it off the window's thread.
ProbeResult probeStreamer(const std::string& host) noexcept;

// The result as the window shows it, one fact per line ("\r\n" between).
std::u16string describeProbe(const std::string& host, const ProbeResult& result);

}  // namespace tavro::settings
