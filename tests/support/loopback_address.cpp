#include "support/loopback_address.h"

#include <atomic>
#include <cstdint>

#if defined(_WIN32)
#include <process.h>
#define TAVRO_PROCESS_ID _getpid
#else
#include <unistd.h>
#define TAVRO_PROCESS_ID getpid
#endif

namespace tavro::testing {

std::string uniqueLoopbackAddress() {
  static std::atomic<uint32_t> counter{0};
  // The process id picks the second and third bytes, a counter the fourth;
  // each byte stays within 1..254, so no address is 127.0.0.1 or a broadcast.
  const auto process = static_cast<uint32_t>(TAVRO_PROCESS_ID());
  const uint32_t second = 1 + (process / 254) % 254;
  const uint32_t third = 1 + process % 254;
  const uint32_t fourth = 1 + counter.fetch_add(1) % 254;
  return "127." + std::to_string(second) + "." + std::to_string(third) + "." +
         std::to_string(fourth);
}

}  // namespace tavro::testing
