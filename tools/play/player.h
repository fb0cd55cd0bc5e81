#pragma once
// Plays a source through an initialised driver, as an ASIO host does:
// rate, buffers, start, a buffer switch per half, stop, dispose.
#include <cstdint>
#include <string>
#include <vector>

#include "asio/asio.h"
#include "play/audio_source.h"

namespace tavro::play {

struct PlayResult {
  bool started = false;
  bool stalled = false;  // the driver stopped asking for buffers before the end
  int64_t halves = 0;    // buffer switches the driver made
  double samplePosition = 0;
  int32_t bufferFrames = 0;
  std::string error;  // the driver's text when something failed
};

// Plays for `seconds`, until the source ends, or after `maxHalves` buffer
// switches (0: no such bound), whichever comes first.
PlayResult play(asio::IAsio& driver, AudioSource& source, double rate, double seconds,
                int64_t maxHalves = 0);

// The same, keeping when each buffer switch returned to the driver (steady
// clock, nanoseconds), one entry per half played, for latency benchmarks.
PlayResult play(asio::IAsio& driver, AudioSource& source, double rate, double seconds,
                std::vector<int64_t>& switchEndsNs);

}  // namespace tavro::play
