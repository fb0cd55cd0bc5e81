#pragma once
// The datagram endpoints the driver builds from its texts, with no system
// call: the address texts have already passed a numeric lookup, or come from
// the streamer's greeting.
#include <cstdint>
#include <string_view>

#include "platform/net.h"

namespace tavro::stream {

// AF_INET, the same number on Windows and Linux.
inline constexpr uint16_t kIpv4Family = 2;
// What inet_addr gives for a text that is not an address.
inline constexpr uint32_t kNoAddress = 0xFFFFFFFF;

// "a.b.c.d", four decimal parts of 0 to 255, as four bytes in network order;
// kNoAddress for anything else.
uint32_t ipv4FromText(std::string_view text) noexcept;

// {AF_INET, port, address} with the port a decimal text (its leading digits;
// 0 without any) and both in network order.
platform::Ipv4Endpoint ipv4Endpoint(std::string_view address, std::string_view port) noexcept;

}  // namespace tavro::stream
