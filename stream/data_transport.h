#pragma once
// Carries packets to the streamer and its ticks back: on the control
// connection (TCP), as plain UDP datagrams, or through Registered I/O.
#include <cstdint>

#include "asio/asio.h"

namespace tavro::driver {
class Vantrel;
}

namespace tavro::stream {

// Bytes of the two tick slots that follow the packet in the packet buffer.
inline constexpr uint32_t kTickSlotBytes = 32;
inline constexpr uint32_t kTickSlotsBytes = 2 * kTickSlotBytes;
// What a tick receive asks for; exactly 2 bytes make a tick.
inline constexpr int32_t kTickReceiveBytes = 64;

// UDP mode only, before the announcement: the data socket and, with
// Registered I/O, the registration and queues. ASE_NotPresent leaves
// errorText and the notification as the failed step says.
asio::AsioError openDataSocket(driver::Vantrel& driver, uint32_t registerBytes) noexcept;

// UDP mode only, right before the streaming thread starts.
void primeDataTransport(driver::Vantrel& driver) noexcept;

// Sends the packet at the start of packetBuffer by the stream's transport.
// A failure has already closed what it must (the control connection).
bool sendPacket(driver::Vantrel& driver) noexcept;

// The streaming thread's receive: the byte count of the next message, 0 or
// less when the stream is over. `buffer` holds kTickReceiveBytes.
int32_t receiveTick(driver::Vantrel& driver, void* buffer) noexcept;

// UDP mode, data socket open: the short datagram that tells the streamer the
// stream is over, then a 100 ms pause.
void sendStopSignal(driver::Vantrel& driver) noexcept;

// Closes the data socket if open and, with Registered I/O, the queues.
void closeDataTransport(driver::Vantrel& driver) noexcept;

// One slot per datagram of a packet; start builds them after the streamer
// has accepted the format.
bool buildDatagramSlots(driver::Vantrel& driver) noexcept;

// From another thread: makes a tick receive under way return, so that the
// streaming thread can see the stream is over. Releases nothing.
void wakeTickReceive() noexcept;

}  // namespace tavro::stream
