#include "settings/panel_values.h"

#include <algorithm>

namespace tavro::settings {

std::string_view trimmed(std::string_view text) noexcept {
  constexpr std::string_view kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

bool isDottedIpv4(std::string_view text) noexcept {
  int parts = 0;
  size_t at = 0;
  while (parts < 4) {
    size_t digits = 0;
    uint32_t value = 0;
    while (at + digits < text.size() && text[at + digits] >= '0' && text[at + digits] <= '9' &&
           digits < 4) {
      value = value * 10 + static_cast<uint32_t>(text[at + digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (digits > 1 && text[at] == '0') return false;
    at += digits;
    ++parts;
    if (parts < 4) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
  }
  return at == text.size();
}

const char* whyNotStorable(const PanelValues& values) noexcept {
  if (!values.singlePc) {
    if (trimmed(values.host).empty()) return "Enter the IPv4 address of the streamer's computer.";
    if (!isDottedIpv4(trimmed(values.host))) {
      return "The streamer's address must be an IPv4 address such as 192.168.1.20.";
    }
    return nullptr;
  }
  const LocalStreamerValues& local = values.local;
  if (local.transport != 1 && local.transport != 2) return "Choose TCP or UDP.";
  if (std::find(std::begin(kWordLengths), std::end(kWordLengths), local.wordLength) ==
      std::end(kWordLengths)) {
    return "Choose a word length of 16, 24 or 32 bits.";
  }
  if (local.bufferIndex >= kBufferIndexCount) return "Choose a buffer size.";
  if (local.bufferPackets < kMinBufferPackets || local.bufferPackets > kMaxBufferPackets) {
    return "Buffer packets must be a number from 2 to 32.";
  }
  if (std::none_of(std::begin(kDsdModes), std::end(kDsdModes),
                   [&](const char* mode) { return local.dsdMode == mode; })) {
    return "Choose how DSD is played.";
  }
  return nullptr;
}

}  // namespace tavro::settings
