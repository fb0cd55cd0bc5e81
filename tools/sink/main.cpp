// tavro-sink: the streamer. It answers the driver on TCP port 48168, paces
// each stream with ticks and plays it to a sound card, or checks and records
// it when there is none.
#include <cstdio>
#include <string>

#include "sink/device_list.h"
#include "sink/foreground.h"
#include "sink/sink_arguments.h"

int main(int argc, char** argv) {
  tavro::sink::SinkOptions options;
  std::string error;
  if (!tavro::sink::parseArguments(argc, argv, options, error)) {
    if (!error.empty()) std::fprintf(stderr, "tavro-sink: %s\n", error.c_str());
    std::fputs(tavro::sink::kUsage, error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  if (options.listDevices) {
    tavro::sink::listDevices([](const std::string& line) { std::printf("%s\n", line.c_str()); });
    return 0;
  }
  return tavro::sink::serveInForeground("tavro-sink", options);
}
