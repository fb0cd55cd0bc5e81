#pragma once
// The user's request to stop a program in the foreground: Ctrl-C, kill, or
// the console closing. Taken on the main thread, not by any server thread.
#include <cstdint>

namespace tavro::sink::os {

class StopRequests {
 public:
  // From here on the requests are this object's, not the default handling's.
  StopRequests();
  // True once a stop was requested, waiting up to `timeoutNs` for one.
  bool wait(int64_t timeoutNs);
};

}  // namespace tavro::sink::os
