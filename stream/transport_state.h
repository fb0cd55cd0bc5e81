#pragma once
// What the data transport holds for the one stream a process can run. It
// lives in StreamState beside dataSocket; data_transport.cpp alone changes it.
//
// The host's thread sets everything up in start before the streaming thread
// exists and releases it in stop after that thread has ended; the fields the
// two threads share while a stream runs are atomics.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/net.h"
#include "platform/rio.h"
#include "platform/sync.h"

namespace tavro::stream {

// Who may post on the Registered I/O request queue's send side. The queue is
// not safe for two threads at once, and stop's last datagram goes out on the
// host's thread while the streaming thread may still be sending a packet.
enum class RioSender : uint32_t {
  kIdle,       // nobody is sending; the streaming thread may take it
  kStreaming,  // the streaming thread is posting a packet
  kClosed,     // no more packets: the stream is stopping, or a send failed
};

struct DataTransportState {
  // Chosen anew by every openDataSocket; read by the streaming thread on
  // every pass of its loop.
  std::atomic<bool> useRio{false};
  // Set once stop begins: a tick receive reports the end of the stream and a
  // packet's completion poll gives up instead of waiting on.
  std::atomic<bool> closing{false};
  std::atomic<RioSender> sender{RioSender::kClosed};
  // Receive completions are announced here; setting it wakes the tick wait.
  std::atomic<platform::KernelHandle> rioEvent{nullptr};

  platform::RioTable rioTable{};
  platform::RioBufferId packetBufferId = platform::kRioInvalidBufferId;
  platform::RioCq sendCompletionQueue = platform::kRioInvalidCq;
  platform::RioCq receiveCompletionQueue = platform::kRioInvalidCq;
  platform::RioRq requestQueue = platform::kRioInvalidRq;
  // The two 32-byte slots after the packet, each with a receive posted.
  platform::RioBuf tickSlots[2]{};
  // Stop's one byte: tick slot 0's first byte, posted from a slice of its
  // own so that the slot the streaming thread re-posts is never written.
  platform::RioBuf stopSlice{};
  platform::RioResult receiveResult{};

  // Plain UDP: where the data socket is bound, so that a datagram to itself
  // can wake a receive that waits without limit.
  platform::Ipv4Endpoint boundEndpoint{};
  bool hasBoundEndpoint = false;

  // One slice per datagram of a packet, built by start.
  std::unique_ptr<platform::RioBuf[]> datagramSlots;
  size_t datagramSlotCount = 0;
};

}  // namespace tavro::stream
