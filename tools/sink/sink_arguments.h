#pragma once
// tavro-sink's command line.
#include <string>

#include "sink/sink_peer.h"

namespace tavro::sink {

extern const char kUsage[];

// False with a message in `error` for an unknown option or a bad value.
bool parseArguments(int argc, char** argv, SinkOptions& options, std::string& error);

}  // namespace tavro::sink
