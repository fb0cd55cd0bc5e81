#pragma once
// Takes a stream's packets off the wire: whole packets of the control
// connection in transport mode 1, datagrams in mode 2 (the first of them the
// priming one, which tells where ticks go). Times each packet against its
// tick and queues it for checking.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sink/network/packet_assembler.h"
#include "sink/network/stream_session.h"
#include "sink/network/tick_pacer.h"
#include "sink/report/latency_stats.h"
#include "sink/report/packet_queue.h"
#include "sink/report/stream_report.h"

namespace tavro::sink {

class StreamReceiver {
 public:
  StreamReceiver(const SessionSetup& setup, TickPacer& pacer, PacketQueue& queue);

  StreamEnd run();

  uint64_t packets() const { return packets_; }
  uint64_t bytes() const { return wire_.bytes(); }
  uint64_t malformed() const { return wire_.malformed(); }
  uint64_t unasked() const { return unasked_; }
  // Packets whose last byte came after the next tick was due on the pacer's
  // schedule: a streamer would have had nothing to play by then.
  uint64_t late() const { return late_; }
  uint64_t foreign() const { return wire_.foreign(); }
  bool pacing() const { return pacing_; }
  // When the stream ended: the driver's close, or the stop.
  int64_t endNs() const { return endNs_; }
  const std::string& transport() const { return transport_; }
  const LatencyStats& latency() const { return latency_; }

 private:
  enum class Ready { kNothing, kData, kControl, kStop };

  StreamEnd receive();
  // `watchControl`: in mode 2, whether the control connection's end is looked for.
  Ready wait(int64_t timeoutNs, bool watchControl);
  void startPacing(const TickPacer::Target& target);
  // How the stream ended, if what came ends it.
  std::optional<StreamEnd> takeFromWire();
  void drainDatagrams();
  void complete();
  bool limitReached();

  const SessionSetup& setup_;
  const StreamFormat format_;
  TickPacer& pacer_;
  PacketQueue& queue_;
  LatencyStats latency_;
  std::unique_ptr<Packet> current_;
  PacketAssembler wire_;
  uint64_t packets_ = 0;
  uint64_t unasked_ = 0;
  uint64_t late_ = 0;
  bool pacing_ = false;
  int64_t limitSeenNs_ = -1;
  int64_t endNs_ = 0;
  std::string transport_;
};

}  // namespace tavro::sink
