#pragma once
// What the host's threads and the streaming thread share of a driver
// object's stream, all of it atomic: whether ticks still move the host, whether a packet is
// on its way out, and the one claim to wind the stream up.
#include <atomic>

#include "stream/stream_end_flag.h"

namespace tavro::stream {

class StreamState {
 public:
  // Right before a stream's thread exists. Until then, and once a stream
  // has been wound up, no stream runs.
  void begin() noexcept {
    sending_.store(false);
    ticksWanted_.store(true, std::memory_order_release);
    ended_.store(false, std::memory_order_release);
  }

  // A host's stop: no tick after this calls the host or sends. True when
  // the ticks were still wanted.
  bool stopTicks() noexcept { return ticksWanted_.exchange(false, std::memory_order_acq_rel); }
  bool ticksWanted() const noexcept { return ticksWanted_.load(std::memory_order_acquire); }

  // Raised before the streaming thread looks at ticksWanted and sends:
  // either it sees the stop and sends nothing, or the stop sees the send
  // under way and lets it finish, since a packet cut short on a TCP
  // connection leaves the streamer a broken stream.
  void beginSend() noexcept { sending_.store(true); }
  void endSend() noexcept { sending_.store(false); }
  bool sendUnderWay() const noexcept { return sending_.load(); }

  // The host's stop and the stream's own end may arrive at the same moment:
  // true for the one side that winds the stream up.
  bool claimEnd() noexcept { return !ended_.exchange(true, std::memory_order_acq_rel); }
  bool ended() const noexcept { return ended_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> ticksWanted_{false};
  std::atomic<bool> sending_{false};
  StreamEndFlag ended_{true};
};

}  // namespace tavro::stream
