#pragma once
// How one stream's packets reach the streamer and its ticks come back: on
// the control connection (TCP), as plain UDP datagrams, or through
// Registered I/O. Start opens one; the streaming thread sends and receives
// through it; a host's stop wakes it and sends the last datagram. Nobody
// outside a transport asks which one it is.
#include <cstdint>
#include <memory>

#include "control/control_connection.h"
#include "control/outcome.h"

namespace tavro::stream {

// Bytes of the two tick slots that follow the packet in the packet buffer.
inline constexpr uint32_t kTickSlotBytes = 32;
inline constexpr uint32_t kTickSlotsBytes = 2 * kTickSlotBytes;
// What a tick receive asks for; exactly 2 bytes make a tick.
inline constexpr int32_t kTickReceiveBytes = 64;

// Where the packed half lies and how it is cut for the wire. The buffer is
// the caller's and outlives the transport; Registered I/O registers
// `registerBytes` of it, the tick slots included.
struct PacketWire {
  void* buffer = nullptr;
  uint32_t datagramSize = 0;
  uint32_t datagramsPerBuffer = 0;
  uint32_t registerBytes = 0;
};

class DataTransport {
 public:
  virtual ~DataTransport() = default;

  // Right before the streaming thread starts: UDP's priming datagram.
  virtual void prime() noexcept = 0;
  // The packet at the start of the buffer. False when it did not all go
  // out: the stream then ends.
  virtual bool sendPacket() noexcept = 0;
  // The byte count of the next message, 0 or less when the stream is over.
  // `buffer` holds kTickReceiveBytes.
  virtual int32_t receiveTick(void* buffer) noexcept = 0;
  // How many ticks a receive of `received` bytes holds.
  virtual int32_t ticksIn(int32_t received) const noexcept = 0;
  // From a host's thread: makes a waiting receive return, and every later
  // one at once, without releasing anything. True when that alone ends the
  // streaming thread's receive; false when only closing the control
  // connection does.
  virtual bool wake() noexcept = 0;
  // What tells the streamer that the stream is over besides the control
  // connection's close: UDP's short datagram, then a pause for it to leave.
  virtual void sendStopSignal() noexcept = 0;
  // For the log.
  virtual const char* name() const noexcept = 0;
};

// The transport the streamer's transport mode asks for. UDP opens the data
// socket and, from Windows 8 on, Registered I/O; where the system offers no
// Registered I/O after all (no function table, or the buffer cannot be
// registered) the stream goes over plain UDP instead. Null with `failure`
// set when it cannot be opened; nothing of the attempt stays open.
std::unique_ptr<DataTransport> openDataTransport(control::Connection& connection,
                                                 const control::StreamerLink& link,
                                                 const PacketWire& wire,
                                                 control::Outcome& failure) noexcept;

// How many data sockets the process holds open: a test sees that none
// outlived its stream.
int64_t openDataSockets() noexcept;

}  // namespace tavro::stream
