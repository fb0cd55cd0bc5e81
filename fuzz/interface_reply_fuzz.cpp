// The streamer's interface list, as whatever units arrive, with whatever
// index the settings reply chose before it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "control/settings_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  tavro::control::StreamerSettings settings;
  std::memcpy(&settings.interfaceIndex, data, sizeof(uint32_t));
  std::u16string_view text(reinterpret_cast<const char16_t*>(data + 4), (size - 4) / 2);
  tavro::control::applyInterfaceReply(text, settings);
  if (settings.interfaceIndex != 0 && settings.interfaceIndex >= settings.interfaces.size()) {
    __builtin_trap();
  }
  return 0;
}
