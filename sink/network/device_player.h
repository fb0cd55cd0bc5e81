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
#include <string>
#include <vector>

#include "sink/network/datagram_intake.h"
#include "sink/network/loss_deadline.h"
#include "sink/network/packet_placement.h"
#include "sink/network/stream_session.h"
#include "sink/output/device_format.h"
#include "sink/output/device_output.h"
#include "sink/report/latency_stats.h"
#include "sink/report/packet_queue.h"
#include "sink/report/stream_report.h"

namespace tavro::sink {

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
  Step receiveTcp();
  Step receiveDatagram();
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
  Step play(const uint8_t* packet);
  Step underrun(int64_t now);
  void warnIfUnderrunsClimb(int64_t now);
  void learnRoundTrip(int64_t ns);
  bool begin(const uint8_t* first);
  int64_t pollTimeoutNs(int64_t now) const;
  void printStatus(int64_t now);
  bool limitReached(int64_t now);
  uint64_t deviceDelayUs() const;
  uint64_t unanswered() const;
  uint64_t underruns() const;
  uint64_t inFlight() const { return asked_ - arrived(); }
  uint64_t arrived() const { return packets_ + malformed_ + lost_; }

  static constexpr size_t kTickRing = 64;
  static constexpr uint64_t kRecentUnderruns = 4;
  static constexpr int64_t kUnderrunWindowNs = 10'000'000'000;

  const SessionSetup& setup_;
  const StreamFormat format_;
  DeviceRequest request_;
  std::unique_ptr<DeviceOutput> device_;
  std::optional<SampleConverter> converter_;
  PacketQueue& queue_;
  std::optional<DatagramIntake> datagrams_;
  std::unique_ptr<Packet> current_;
  std::vector<uint8_t> deviceBytes_;  // one converted packet
  uint32_t filled_ = 0;               // TCP: bytes of the packet under way
  uint32_t packetDeviceFrames_ = 0;
  uint64_t maxInFlight_ = 1;
  int64_t lostAfterNs_ = 0;                   // the longest a lost packet can be waited for
  std::optional<LossDeadline> lossDeadline_;  // UDP
  std::optional<PacketPlacement> placement_;  // UDP
  bool slowLinkTold_ = false;
  std::array<int64_t, kTickRing> tickSentNs_{};
  LatencyStats latency_;
  uint64_t delaySumUs_ = 0;  // the card's queue after each packet, summed
  uint64_t delaySamples_ = 0;
  uint64_t asked_ = 1;  // the driver sends the first packet unasked
  uint64_t ticks_ = 0;
  uint64_t packets_ = 0;
  uint64_t bytes_ = 0;
  uint64_t malformed_ = 0;
  uint64_t lost_ = 0;
  // Given up since a packet last played, and of the late ones counted then:
  // give-ups no packet followed are the stream's end, unless one came late.
  uint64_t givenUpSincePlayed_ = 0;
  uint64_t overdueWhenPlayed_ = 0;
  uint64_t foreign_ = 0;
  uint64_t unasked_ = 0;
  StreamEnd driverEnd_ = StreamEnd::kDriver;  // how a failed control connection ended
  uint64_t underruns_ = 0;
  int64_t dryAtNs_ = 0;  // when the card runs out of what it was given
  bool dry_ = false;     // it ran out, and has had nothing since
  int64_t drySinceNs_ = 0;
  std::array<int64_t, kRecentUnderruns> recentUnderrunsNs_{};
  int64_t warnedNs_ = 0;  // when the sink last said the stream is too fast
  int64_t startNs_ = 0;
  int64_t nextStatusNs_ = 0;
  int64_t limitSeenNs_ = -1;
  std::string dsd_ = "-";
};

}  // namespace tavro::sink
