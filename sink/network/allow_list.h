#pragma once
// The networks whose players may use the sink (--allow ADDRESS[/BITS]). An
// empty list lets anyone play, as endpoints on a home network do.
#include <cstdint>
#include <string>
#include <vector>

namespace tavro::sink {

struct AllowedNetwork {
  uint32_t address = 0;  // host byte order, with the bits past the prefix cleared
  uint32_t mask = 0;     // host byte order
};

// "192.168.1.0/24", "10.0.0.7" (one address, /32). False with a reason for
// anything else, such as a prefix past 32.
bool parseAllowedNetwork(const std::string& text, AllowedNetwork& network, std::string& error);

// Whether a connection from `address` (host byte order) may be served.
bool isAllowed(const std::vector<AllowedNetwork>& allowed, uint32_t address);

}  // namespace tavro::sink
