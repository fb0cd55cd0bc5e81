#pragma once
// A peer as a program runs it: printing to the terminal until its one
// connection ends (--once), Ctrl-C or kill.
#include "sink/sink_peer.h"

namespace tavro::sink {

// Returns the program's exit status; `program` prefixes its error messages.
int serveInForeground(const char* program, const SinkOptions& options, SinkHooks hooks = {});

}  // namespace tavro::sink
