#pragma once
// The Registered I/O side of the data transport: used by data_transport.cpp
// only, with its state in DataTransportState.
#include <cstdint>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "stream/session.h"

namespace tavro::stream::rio {

enum class OpenResult { kOpened, kFailed, kUnavailable };

// The socket, registration, queues and connection. kUnavailable (no function
// table, or no registration) has closed what it opened and set no text, so
// that the caller can go on over plain UDP; kFailed has put what to report
// into `failure` and closed everything.
OpenResult open(Session& session, const control::StreamerLink& link, uint32_t registerBytes,
                control::Outcome& failure) noexcept;

void prime(Session& session) noexcept;
bool sendPacket(Session& session) noexcept;
int32_t waitForTick(StreamState& slot) noexcept;
void sendStopSignal(StreamState& slot) noexcept;

// Queues, event and registration; the socket is the caller's.
void release(StreamState& slot) noexcept;

}  // namespace tavro::stream::rio
