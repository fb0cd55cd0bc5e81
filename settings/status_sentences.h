#pragma once
// The driver's notification codes as sentences a user can act on.
#include <cstdint>
#include <string>

namespace tavro::settings {

// One sentence for every code of the driver's notification table; a code the
// table does not know is still shown, with its number.
std::string sentenceFor(uint32_t code);

// "14:03:27  <sentence>": the line the status shows for a notification.
std::string statusLine(uint32_t code, int hour, int minute, int second);

// The line that clears the status once a stream starts well again.
std::string startedWellLine(int hour, int minute, int second);

}  // namespace tavro::settings
