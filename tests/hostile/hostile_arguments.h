#pragma once
// tavro-test-sink's command line: tavro-sink's, and the misbehaviours the
// scripts ask of it.
#include <string>

#include "hostile/hostile_peer.h"

namespace tavro::testing {

extern const char kHostileUsage[];

// False with a message in `error` for an unknown option or a bad value, and
// with none for --help.
bool parseHostileArguments(int argc, char** argv, HostileOptions& options, std::string& error);

}  // namespace tavro::testing
