#pragma once
// Process-wide stream state and the end-of-stream sequence.
#include <atomic>

#include "platform/net.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::stream {

struct StreamState {
  std::atomic<platform::Socket> dataSocket{platform::kInvalidSocket};
  // True while no streaming thread runs; whoever flips it to true ends the stream.
  std::atomic<bool> streamStopped{true};
  std::atomic<driver::Vantrel*> streamDriver{nullptr};
};

StreamState& streamState() noexcept;

// Runs at most once per stream, whichever thread gets there first.
void endStream(driver::Vantrel& driver) noexcept;

// Closes the data socket if open and frees what the data transport holds.
void releaseDataTransport() noexcept;

}  // namespace tavro::stream
