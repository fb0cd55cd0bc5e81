#pragma once
// Process-wide stream state and the end-of-stream sequence.
#include <atomic>

#include "platform/net.h"
#include "stream/transport_state.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::stream {

struct StreamState {
  std::atomic<platform::Socket> dataSocket{platform::kInvalidSocket};
  // True while no streaming thread runs; whoever flips it to true ends the stream.
  std::atomic<bool> streamStopped{true};
  std::atomic<driver::Vantrel*> streamDriver{nullptr};
  DataTransportState transport;
};

StreamState& streamState() noexcept;

// Runs at most once per stream, whichever thread gets there first.
void endStream(driver::Vantrel& driver) noexcept;

// Closes the data socket if open and frees everything the data transport
// holds, the datagram slots included. Only once no streaming thread runs.
void releaseDataTransport() noexcept;

}  // namespace tavro::stream
