#pragma once
// tavro-sink's command line.
#include <string>

#include "sink/app/stored_options.h"
#include "sink/network/sink_peer.h"

namespace tavro::sink {

extern const char kUsage[];

// False with a message in `error` for an unknown option or a bad value.
// `chosen`, when given, learns which stored settings the command line set.
bool parseArguments(int argc, char** argv, SinkOptions& options, std::string& error,
                    CommandLineChoices* chosen = nullptr);

}  // namespace tavro::sink
