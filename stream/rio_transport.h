#pragma once
// The Registered I/O side of the data transport: used by data_transport.cpp
// only, with its state in DataTransportState.
#include <cstdint>

#include "asio/asio.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::stream::rio {

enum class OpenResult { kOpened, kFailed, kUnavailable };

// The socket, registration, queues and connection. kUnavailable (no function
// table, or no registration) has closed what it opened and set no text, so
// that the caller can go on over plain UDP; kFailed has set the text and
// notification and closed everything.
OpenResult open(driver::Vantrel& driver, uint32_t registerBytes) noexcept;

void prime(driver::Vantrel& driver) noexcept;
bool sendPacket(driver::Vantrel& driver) noexcept;
int32_t waitForTick() noexcept;
void sendStopSignal() noexcept;

// Queues, event and registration; the socket is the caller's.
void release() noexcept;

}  // namespace tavro::stream::rio
