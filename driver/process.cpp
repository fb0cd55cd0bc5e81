#include "driver/process.h"

namespace tavro::driver {

Process& process() noexcept {
  // Made at its first use, whichever code of the module runs first.
  static Process theProcess;
  return theProcess;
}

}  // namespace tavro::driver
