#pragma once
// What the streamer told us about itself in reply to the settings queries.
#include <cstdint>
#include <string>
#include <vector>

namespace tavro::control {

struct StreamerSettings {
  uint32_t transportMode = 0;  // 1: audio on the control connection, 2: UDP
  uint32_t interfaceIndex = 0;
  uint32_t wordLength = 0;    // 16, 24 or 32
  uint32_t sampleShift = 0;   // arithmetic right shift of every PCM sample
  uint32_t spareSetting = 0;  // sent by the streamer, unused
  std::vector<std::u16string> interfaces;
  uint32_t driveMode = 0;  // non-zero: removable-drive mode
  uint32_t invertPolarity = 0;
};

inline constexpr uint32_t kTransportTcp = 1;
inline constexpr uint32_t kTransportUdp = 2;

}  // namespace tavro::control
