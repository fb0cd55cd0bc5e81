#pragma once
// A stream played to a sound card and paced by it. One loop on the serving
// thread polls the card and the sockets: a tick asks for a packet when the
// card has room for one more than those already asked for, and each packet
// goes into the card as it arrives. The card's clock is the only clock, so
// the stream neither drifts nor is resampled.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "sink/network/loss_deadline.h"
#include "sink/network/packet_assembler.h"
#include "sink/network/packet_placement.h"
#include "sink/network/stream_session.h"
#include "sink/output/device_feed.h"
#include "sink/output/device_output.h"
#include "sink/report/latency_stats.h"
#include "sink/report/packet_queue.h"
#include "sink/report/stream_report.h"

namespace tavro::sink {

// It asks for the packets and places them; DeviceFeed puts them into the card.
class DevicePlayer {
 public:
  // `request` is what `device` was opened with: a stream that turns out not
  // to be DoP is played as PCM on the same card, opened again.
  DevicePlayer(const SessionSetup& setup, std::unique_ptr<DeviceOutput> device,
               DeviceRequest request, PacketQueue& queue);

  StreamEnd run();
  // After the connection is told: plays what the card holds, unless the
  // stream ended because the card is gone or the sink stops.
  void finish(StreamEnd end);
  void fill(StreamReport& report) const;

 private:
  enum class Step { kGoOn, kDriverEnded, kDeviceGone, kStopped };

  Step askForRoom(int64_t now);
  Step waitAndTake(int64_t now);
  Step takeFromWire();
  Step packetArrived(int64_t now);
  Step playHeld();
  void drainDatagrams();
  // `cameNs`: when it came. `timed`: its round trip is the link's, and
  // teaches the wait for a lost one.
  Step complete(int64_t cameNs, bool timed = true);
  Step giveUpLost(int64_t now);
  // When the packet in flight was asked for; -1 for none.
  int64_t askedAtNs() const;
  // Plays a packet, or silence in its place when `packet` is null.
  Step play(const uint8_t* packet) { return feed_.play(packet) ? Step::kGoOn : Step::kDeviceGone; }
  void learnRoundTrip(int64_t ns);
  int64_t pollTimeoutNs(int64_t now) const;
  void printStatus(int64_t now);
  bool limitReached(int64_t now);
  uint64_t unanswered() const;
  uint64_t inFlight() const { return asked_ - arrived(); }
  uint64_t arrived() const { return packets_ + wire_.malformed() + lost_; }

  static constexpr size_t kTickRing = 64;

  const SessionSetup& setup_;
  const StreamFormat format_;
  const uint32_t bufferPackets_;
  DeviceFeed feed_;
  PacketAssembler wire_;
  PacketQueue& queue_;
  std::unique_ptr<Packet> current_;
  uint64_t maxInFlight_ = 1;
  int64_t lostAfterNs_ = 0;                   // the longest a lost packet can be waited for
  std::optional<LossDeadline> lossDeadline_;  // UDP
  std::optional<PacketPlacement> placement_;  // UDP
  bool slowLinkTold_ = false;
  std::array<int64_t, kTickRing> tickSentNs_{};
  LatencyStats latency_;
  uint64_t asked_ = 1;  // the driver sends the first packet unasked
  uint64_t ticks_ = 0;
  uint64_t packets_ = 0;
  uint64_t lost_ = 0;
  // Given up since a packet last played, and of the late ones counted then:
  // give-ups no packet followed are the stream's end, unless one came late.
  uint64_t givenUpSincePlayed_ = 0;
  uint64_t overdueWhenPlayed_ = 0;
  uint64_t unasked_ = 0;
  StreamEnd driverEnd_ = StreamEnd::kDriver;  // how a failed control connection ended
  int64_t startNs_ = 0;
  int64_t nextStatusNs_ = 0;
  int64_t limitSeenNs_ = -1;
};

}  // namespace tavro::sink
