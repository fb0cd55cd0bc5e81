// tavro-test-sink: tavro-sink with the misbehaviours the Windows suites' scripts
// need from a streamer, which the shipped program has no business offering.
#include <cstdio>
#include <string>

#include "hostile/hostile_arguments.h"
#include "sink/app/foreground.h"
#include "sink/app/sink_arguments.h"

int main(int argc, char** argv) {
  tavro::testing::HostileOptions options;
  std::string error;
  if (!tavro::testing::parseHostileArguments(argc, argv, options, error)) {
    if (!error.empty()) std::fprintf(stderr, "tavro-test-sink: %s\n", error.c_str());
    std::FILE* out = error.empty() ? stdout : stderr;
    std::fputs(tavro::testing::kHostileUsage, out);
    std::fputs(tavro::sink::kUsage, out);
    return error.empty() ? 0 : 2;
  }
  return tavro::sink::serveInForeground("tavro-test-sink", options,
                                        tavro::testing::hostileHooks(options));
}
