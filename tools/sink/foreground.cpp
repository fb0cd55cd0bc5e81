#include "sink/foreground.h"

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

namespace tavro::sink {

int serveInForeground(const char* program, const SinkOptions& options, SinkHooks hooks) {
  // Ctrl-C and kill are taken here, on the main thread, not by the server's.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SinkPeer peer(
      options,
      [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
      },
      std::move(hooks));
  std::string error;
  if (!peer.start(&error)) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return 1;
  }
  const timespec tick{0, 100 * 1000 * 1000};
  while (!peer.finished()) {
    if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
  }
  peer.stop();
  return 0;
}

}  // namespace tavro::sink
