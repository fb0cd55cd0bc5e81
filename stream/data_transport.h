#pragma once
// Carries packets to the streamer and its ticks back: on the control
// connection (TCP), as plain UDP datagrams, or through Registered I/O.
#include <cstdint>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "stream/session.h"

namespace tavro::stream {

struct StreamState;

// Bytes of the two tick slots that follow the packet in the packet buffer.
inline constexpr uint32_t kTickSlotBytes = 32;
inline constexpr uint32_t kTickSlotsBytes = 2 * kTickSlotBytes;
// What a tick receive asks for; exactly 2 bytes make a tick.
inline constexpr int32_t kTickReceiveBytes = 64;

// UDP mode only, before the announcement: the data socket and, with
// Registered I/O, the registration and queues; it chooses the session's
// transport. A failure says what to report and leaves nothing of the attempt
// open. Where the system offers no Registered I/O after all (no function
// table, or the buffer cannot be registered) the stream goes over plain UDP
// instead. Anything an earlier stream left open is released first.
control::Outcome openDataSocket(Session& session, const control::StreamerLink& link,
                                uint32_t registerBytes) noexcept;

// Start, once the streamer has accepted the format: one slice of the packet
// buffer per datagram (datagramsPerBuffer of datagramSize bytes). False when
// there is no memory for them. Replaces the slices of an earlier start.
bool buildDatagramSlots(Session& session) noexcept;
void releaseDatagramSlots(StreamState& slot) noexcept;

// Right before the streaming thread starts: the priming datagram in UDP
// mode, nothing over TCP.
void primeDataTransport(Session& session) noexcept;

// Sends the packet at the start of packetBuffer by the stream's transport.
// A failure has already closed what it must (the control connection).
bool sendPacket(Session& session) noexcept;

// The streaming thread's receive: the byte count of the next message, 0 or
// less when the stream is over. `buffer` holds kTickReceiveBytes. With
// Registered I/O the count is that of the tick slot (at most 32 bytes), and
// 0 comes after 1000 ms without a tick, once stop has begun, or once a
// packet could not be sent.
int32_t receiveTick(Session& session, void* buffer) noexcept;

// From stop (or the end of a stream), on any thread: makes a tick receive
// that is waiting return, and the next one return at once, without releasing
// anything the streaming thread may still use. With Registered I/O it sets
// the receive event; in plain UDP mode it sends the data socket an empty
// datagram; in TCP mode the receive ends when the control connection closes.
void wakeTickReceive(StreamState& slot) noexcept;

// UDP mode, data socket open: the short datagram that tells the streamer the
// stream is over, then a 100 ms pause. With Registered I/O it first takes
// the send side from the streaming thread (which gives up a packet it is
// still waiting on), so that the two never post at once.
void sendStopSignal(Session& session) noexcept;
// The same, when UDP mode's data socket is open; nothing otherwise.
void sendStopSignalIfOpen(Session& session) noexcept;

// Closes the data socket if open, the Registered I/O queues, the receive
// event and the buffer registration (the packet buffer may be freed after
// it). Also what a start that fails after openDataSocket calls. Only once
// the streaming thread has ended: stop wakes it (wakeTickReceive) and joins
// it first. The datagram slots stay; releaseDataTransport frees them too.
void closeDataTransport(StreamState& slot) noexcept;

}  // namespace tavro::stream
