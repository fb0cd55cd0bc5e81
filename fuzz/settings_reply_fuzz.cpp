// The streamer's settings reply, as whatever units arrive.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/settings_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string_view text(reinterpret_cast<const char16_t*>(data), size / 2);
  uint32_t bufferSizeIndex = tavro::control::kFallbackBufferSizeIndex;
  tavro::control::StreamerSettings settings;
  tavro::control::applySettingsReply(text, bufferSizeIndex, settings);
  if (bufferSizeIndex >= tavro::control::kBufferSizeIndexCount) __builtin_trap();
  return 0;
}
