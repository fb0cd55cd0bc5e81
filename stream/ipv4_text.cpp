#include "stream/ipv4_text.h"

#include <cstring>

namespace tavro::stream {

uint32_t ipv4FromText(std::string_view text) noexcept {
  uint8_t bytes[4] = {};
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return kNoAddress;
      ++at;
    }
    uint32_t value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return kNoAddress;
    bytes[part] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return kNoAddress;
  uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

platform::Ipv4Endpoint ipv4Endpoint(std::string_view address, std::string_view port) noexcept {
  uint32_t number = 0;
  for (size_t at = 0; at < port.size() && port[at] >= '0' && port[at] <= '9'; ++at) {
    number = (number * 10 + static_cast<uint32_t>(port[at] - '0')) & 0xFFFF;
  }
  const uint8_t portBytes[2] = {static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
  platform::Ipv4Endpoint endpoint{};
  endpoint.family = kIpv4Family;
  std::memcpy(&endpoint.port, portBytes, sizeof portBytes);
  endpoint.address = ipv4FromText(address);
  return endpoint;
}

}  // namespace tavro::stream
