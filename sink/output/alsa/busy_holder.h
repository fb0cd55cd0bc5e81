#pragma once
// Who holds a sound card's PCM, for the message about a device that answered
// "busy": the user can then stop that program or point it elsewhere.
#include <string>

namespace tavro::sink {

// For an "hw:" name ("hw:CARD=D10,DEV=0", "hw:1,0", "hw:D10"), the program
// the kernel lists as owner of one of its playback substreams, as
// "pulseaudio (pid 812)". Empty for other names or when nothing says.
std::string busyHolder(const std::string& name);

}  // namespace tavro::sink
