#include "sink/app/foreground.h"

#include <cstdio>
#include <string>
#include <utility>

#include "sink/os/stop_request.h"

namespace tavro::sink {

int serveInForeground(const char* program, const SinkOptions& options, SinkHooks hooks,
                      ProgramLog* log, SinkPeer::OptionsRefresh refresh) {
  // Taken here, on the main thread, before the server's threads exist.
  os::StopRequests stops;

  SinkPeer peer(
      options,
      [log](const std::string& line) {
        if (log != nullptr) {
          log->say(line);
          return;
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      },
      std::move(hooks), std::move(refresh));
  std::string error;
  if (!peer.start(&error)) {
    const std::string line = std::string(program) + ": " + error;
    if (log != nullptr) {
      log->complain(line);
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    return 1;
  }
  while (!peer.finished()) {
    if (stops.wait(100'000'000)) break;
  }
  peer.stop();
  return 0;
}

}  // namespace tavro::sink
