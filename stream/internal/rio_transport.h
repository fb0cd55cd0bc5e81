#pragma once
// Packets and ticks as UDP datagrams through Registered I/O: the packet
// buffer and its tick slots registered once, one slice per datagram.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "platform/rio.h"
#include "platform/sync.h"
#include "stream/data_transport.h"
#include "stream/internal/datagram_socket.h"

namespace tavro::stream {

class RioTransport final : public DataTransport {
 public:
  enum class Opened { kOpened, kFailed, kUnavailable };

  explicit RioTransport(const PacketWire& wire) noexcept : wire_(wire), socket_(true) {}
  ~RioTransport() override;
  RioTransport(const RioTransport&) = delete;
  RioTransport& operator=(const RioTransport&) = delete;

  // The registration, queues, connection and datagram slices. kUnavailable
  // (no function table, or no registration) sets nothing in `failure`, so
  // that the caller can go on over plain UDP; kFailed says what to report.
  Opened open(const control::StreamerLink& link, control::Outcome& failure) noexcept;

  void prime() noexcept override;
  bool sendPacket() noexcept override;
  int32_t receiveTick(void* buffer) noexcept override;
  int32_t ticksIn(int32_t received) const noexcept override { return received == 2 ? 1 : 0; }
  bool wake() noexcept override;
  void sendStopSignal() noexcept override;
  const char* name() const noexcept override { return "Registered I/O"; }

 private:
  // Who may post on the request queue's send side. The queue is not safe for
  // two threads at once, and stop's last datagram goes out on the host's
  // thread while the streaming thread may still be sending a packet.
  enum class Sender : uint32_t {
    kIdle,       // nobody is sending; the streaming thread may take it
    kStreaming,  // the streaming thread is posting a packet
    kClosed,     // no more packets: the stream is stopping, or a send failed
  };
  enum class Posted { kSent, kFailed, kStopping };

  Posted postPacket() noexcept;
  void postStopSlice() noexcept;

  const PacketWire wire_;
  DatagramSocket socket_;
  platform::RioTable table_{};
  platform::RioBufferId bufferId_ = platform::kRioInvalidBufferId;
  platform::RioCq sendQueue_ = platform::kRioInvalidCq;
  platform::RioCq receiveQueue_ = platform::kRioInvalidCq;
  platform::RioRq requestQueue_ = platform::kRioInvalidRq;
  platform::KernelHandle receiveEvent_ = nullptr;
  // The two 32-byte slots after the packet, each with a receive posted.
  platform::RioBuf tickSlots_[2]{};
  // Stop's one byte: tick slot 0's first byte, posted from a slice of its
  // own so that the slot the streaming thread re-posts is never written.
  platform::RioBuf stopSlice_{};
  platform::RioResult receiveResult_{};
  // One slice per datagram of a packet.
  std::unique_ptr<platform::RioBuf[]> slices_;
  // Packets posted so far, by the streaming thread alone.
  uint64_t packetsPosted_ = 0;

  // Set once stop begins: a tick receive reports the end of the stream and a
  // packet's completion poll gives up instead of waiting on.
  std::atomic<bool> closing_{false};
  std::atomic<Sender> sender_{Sender::kClosed};
};

}  // namespace tavro::stream
