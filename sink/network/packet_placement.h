#pragma once
// Over UDP, which slot of the card a packet that comes belongs in. Datagrams
// carry no packet number and one packet is asked for at a time, so what
// comes is the packet asked for, or a copy the network made, or a packet
// given up as lost that is only late. A packet that might be either is held
// until the driver has been quiet long enough to tell: the driver answers
// ticks in order, so of the packets that come one after another, the last
// is the one asked for and those before it are late ones, already replaced
// by silence. Nothing is ever played out of its place; at worst a late
// packet costs its slot.
//
// It decides; the caller plays, asks and keeps the time. Time is passed in,
// so that the rules can be tried without a network.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavro::sink {

class PacketPlacement {
 public:
  enum class Action {
    kWait,      // nothing to play yet
    kPlay,      // the packet just given is the one asked for
    kPlayHeld,  // held() is the one asked for
    kGiveUp,    // the one asked for is lost: silence in its slot, and ask again
  };

  struct Decision {
    Action action = Action::kWait;
    // A packet given up that came after all: how long it took, to teach
    // the wait (0: none came).
    int64_t lateRoundTripNs = 0;
  };

  // `tellsCopies`: a packet is one datagram, so a copy of the packet
  // before can be told by its bytes. `copyHoldNs`: how long a packet equal
  // to the one before is held for the one that would follow a copy.
  PacketPlacement(size_t packetBytes, bool tellsCopies, int64_t copyHoldNs);

  // A whole packet came while one was asked for.
  Decision arrived(const uint8_t* packet, int64_t now);
  // A packet came while none was asked for: a late one given up (true,
  // counted overdue) or a copy the caller counts.
  bool arrivedUnasked();
  // The stream's stop datagram came: a packet held is the driver's last.
  Action stopCame();
  // The packet under way is spoilt and silence takes its slot: a packet
  // held was not the one asked for.
  void spoilt();
  // Time passed with nothing waiting in the socket. `askedAtNs`: when the
  // packet in flight was asked for, or -1 when none is (the driver's first
  // packet comes unasked). `waitNs` is how long a packet asked for is
  // waited for, and how quiet the driver must have been after a loss before
  // a packet held counts as the one asked for.
  Decision due(int64_t now, int64_t askedAtNs, int64_t waitNs);
  // When due() next has something to decide; INT64_MAX for never.
  int64_t nextDueNs(int64_t askedAtNs, int64_t waitNs) const;
  // The packet that was played last, to tell its copy by.
  void played(const uint8_t* packet);

  const uint8_t* held() const { return held_.data(); }
  int64_t heldSinceNs() const { return heldAtNs_; }
  // Whether the packet held came after a loss: its round trip is not the link's.
  bool heldAfterLoss() const { return heldAfterLoss_; }
  uint64_t duplicates() const { return duplicates_; }
  uint64_t overdue() const { return overdue_; }

 private:
  void hold(const uint8_t* packet, int64_t now);
  void dropHeld(int64_t& lateRoundTripNs);
  int64_t quietNs(int64_t waitNs) const;
  bool equalsPlayed(const uint8_t* packet) const;

  static constexpr size_t kAskedTimes = 16;

  const size_t packetBytes_;
  const bool tellsCopies_;
  const int64_t copyHoldNs_;
  std::vector<uint8_t> held_;
  bool holding_ = false;
  bool heldAfterLoss_ = false;
  int64_t heldAtNs_ = 0;
  std::vector<uint8_t> played_;
  bool playedKept_ = false;
  // Packets given up that may still come, oldest first, by when each was
  // asked for.
  std::array<int64_t, kAskedTimes> givenUpAskedNs_{};
  uint64_t givenUpFirst_ = 0;
  uint64_t givenUpEnd_ = 0;
  uint64_t duplicates_ = 0;
  uint64_t overdue_ = 0;
};

}  // namespace tavro::sink
