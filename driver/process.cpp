#include "driver/process.h"

namespace tavro::driver {

Process& process() noexcept {
  // Made at its first use, whichever code of the module runs first.
  static Process theProcess;
  return theProcess;
}

void closeControlConnection(const control::Connection::Ending& ending) noexcept {
  process().connection.close(ending);
}

void closeControlConnection() noexcept { closeControlConnection(control::Connection::Ending{}); }

}  // namespace tavro::driver
