#pragma once
// Writes where the driver finds its streamer: HKEY_CURRENT_USER\Software\TAVRO7.
// The driver itself never creates that key; a user or a tool does.
#include <string>

namespace tavro::play {

// "SinglePCOnly" = "1": the streamer runs on this PC (127.0.0.1).
bool storeSinglePc(std::string& error);
// "SinglePCOnly" = "0" and "Host" = address (dotted IPv4; empty: this PC's own).
bool storeHost(const std::string& address, std::string& error);

}  // namespace tavro::play
