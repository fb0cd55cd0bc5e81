#pragma once
// Where a test may change how a stream's ticks leave. tavro-sink leaves them
// empty and ticks as a streamer does; the driver must also survive ticks of
// the wrong size, a flood of them and a streamer that stops ticking without
// closing, and the tests make those streamers from this one.
#include <chrono>
#include <cstdint>
#include <functional>

namespace tavro::sink {

struct TickHooks {
  // Bytes in the tick of schedule slot `slot` (from 1), at most 64; empty: 2.
  std::function<uint32_t(uint64_t slot)> length;
  // Non-zero: ticks leave this far apart whatever the schedule, at normal
  // priority, since a flood at real-time priority would starve the very
  // driver it tests.
  std::chrono::nanoseconds gap{0};
  // At the tick limit, stop ticking but keep the connection, as a streamer
  // that hangs does, instead of closing it.
  bool silentAtLimit = false;
};

}  // namespace tavro::sink
