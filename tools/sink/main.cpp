// tavro-sink: stands in for TAVROStreamer so that a user can check that the
// driver finds and talks to its streamer. Prints each frame it receives.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "sink/device_list.h"
#include "sink/sink_arguments.h"
#include "sink/sink_peer.h"

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

  // Ctrl-C and kill are taken here, on the main thread, not by the server's.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  tavro::sink::SinkPeer peer(options, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  if (!peer.start(&error)) {
    std::fprintf(stderr, "tavro-sink: %s\n", error.c_str());
    return 1;
  }
  const timespec tick{0, 100 * 1000 * 1000};
  while (!peer.finished()) {
    if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
  }
  peer.stop();
  return 0;
}
