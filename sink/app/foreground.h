#pragma once
// A peer as a program runs it: printing to the terminal (and the program's
// log, when given one) until its one connection ends (--once), Ctrl-C or
// kill.
#include "sink/app/program_log.h"
#include "sink/network/sink_peer.h"

namespace tavro::sink {

// Returns the program's exit status; `program` prefixes its error messages.
// `refresh` takes the options again at each connection.
int serveInForeground(const char* program, const SinkOptions& options, SinkHooks hooks = {},
                      ProgramLog* log = nullptr, SinkPeer::OptionsRefresh refresh = nullptr);

}  // namespace tavro::sink
