#pragma once
// The playback devices a user can give to --device, each with what it takes
// untouched, so that a format the DAC would only get converted is not chosen.
#include <functional>
#include <string>

namespace tavro::sink {

using LinePrinter = std::function<void(const std::string&)>;

// One block per device: its name and description on the first line, then
// what it takes or why it could not be opened, indented. Every card's
// playback PCMs, then the PCMs the ALSA configuration declares by name.
void listDevices(const LinePrinter& print);

// What one device takes, as "PCM: ..." and "DSD native: ..." lines, or why it
// could not be opened: for the message when a stream is refused.
std::string describeOffer(const std::string& name);

}  // namespace tavro::sink
