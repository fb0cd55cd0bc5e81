#pragma once

namespace tavro::sink {

// How the data side ticks.
enum class TickStyle {
  kPaced,        // `tickBytes` per tick, one per half-buffer period
  kEveryLength,  // paced, tick k holding k % 65 bytes: 1 to 64, then 0, and again
  kFlood,        // 2-byte ticks as fast as the socket takes them
};

}  // namespace tavro::sink
