#pragma once
// The playback devices a user can give to --device, each with what it takes
// untouched, so that a format the DAC would only get converted is not
// chosen. Every backend of this build lists its own.
#include <functional>
#include <string>
#include <vector>

namespace tavro::sink {

using LinePrinter = std::function<void(const std::string&)>;

// One block per device: its name and description on the first line, then
// what it takes or why it could not be opened, indented.
void listDevices(const LinePrinter& print);

// The names --device takes, one per playback device: the interface list
// the driver asks for.
std::vector<std::string> playbackDeviceNames();

// What one device takes, as "PCM: ..." and "DSD native: ..." lines, or why it
// could not be opened: for the message when a stream is refused.
std::string describeOffer(const std::string& name);

}  // namespace tavro::sink
