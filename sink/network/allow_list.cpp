#include "sink/network/allow_list.h"

#include <cstdlib>

#include "sink/os/socket.h"

namespace tavro::sink {

bool parseAllowedNetwork(const std::string& text, AllowedNetwork& network, std::string& error) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  uint32_t bits = 32;
  if (slash != std::string::npos) {
    const std::string prefix = text.substr(slash + 1);
    char* end = nullptr;
    const unsigned long value = std::strtoul(prefix.c_str(), &end, 10);
    if (prefix.empty() || *end != '\0' || value > 32 || prefix.size() > 2) {
      error = "--allow takes ADDRESS[/BITS] with BITS from 0 to 32, not " + text;
      return false;
    }
    bits = static_cast<uint32_t>(value);
  }
  uint32_t parsed = 0;
  if (!os::parseIpv4(address, parsed)) {
    error = "--allow takes an IPv4 address, not " + text;
    return false;
  }
  const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  // 192.168.1.7/24 names the network that address is on, as ip(8) takes it.
  network = {parsed & mask, mask};
  return true;
}

bool isAllowed(const std::vector<AllowedNetwork>& allowed, uint32_t address) {
  if (allowed.empty()) return true;
  for (const AllowedNetwork& network : allowed) {
    if ((address & network.mask) == network.address) return true;
  }
  return false;
}

}  // namespace tavro::sink
