#include "sink/network/packet_placement.h"

#include <algorithm>
#include <climits>

namespace tavro::sink {
namespace {

// The wait for a lost packet is twice the slowest recent round trip and
// 2 ms more; the packet that follows a late one comes within one such round
// trip of it, however the network jitters.
constexpr int64_t kFollowerMarginNs = 1'000'000;

}  // namespace

PacketPlacement::PacketPlacement(size_t packetBytes, bool tellsCopies, int64_t copyHoldNs)
    : packetBytes_(packetBytes),
      tellsCopies_(tellsCopies),
      copyHoldNs_(copyHoldNs),
      held_(packetBytes),
      played_(tellsCopies ? packetBytes : 0) {}

PacketPlacement::Decision PacketPlacement::arrived(const uint8_t* packet, int64_t now) {
  Decision decision;
  if (holding_) {
    // The network's copy of the one held, or the next packet of digital
    // silence: which of the two plays is all one.
    if (std::equal(held_.begin(), held_.end(), packet)) {
      ++duplicates_;
      return decision;
    }
    // Something else followed the one held, so that was not the one asked for.
    dropHeld(decision.lateRoundTripNs);
  }
  if (givenUpEnd_ > givenUpFirst_ || equalsPlayed(packet)) {
    hold(packet, now);
    return decision;
  }
  decision.action = Action::kPlay;
  return decision;
}

bool PacketPlacement::arrivedUnasked() {
  if (givenUpEnd_ == givenUpFirst_) return false;
  ++givenUpFirst_;
  ++overdue_;
  return true;
}

PacketPlacement::Action PacketPlacement::stopCame() {
  if (!holding_) return Action::kWait;
  holding_ = false;
  givenUpFirst_ = givenUpEnd_;
  return Action::kPlayHeld;
}

void PacketPlacement::spoilt() {
  if (!holding_) return;
  int64_t late = 0;
  dropHeld(late);
}

PacketPlacement::Decision PacketPlacement::due(int64_t now, int64_t askedAtNs, int64_t waitNs) {
  Decision decision;
  if (holding_) {
    if (now - heldAtNs_ < quietNs(waitNs)) return decision;
    // The driver has been quiet since: the one held is the one asked for,
    // and the packets given up that have not come are lost for good.
    holding_ = false;
    givenUpFirst_ = givenUpEnd_;
    decision.action = Action::kPlayHeld;
    return decision;
  }
  if (askedAtNs < 0 || now - askedAtNs < waitNs) return decision;
  if (givenUpEnd_ - givenUpFirst_ == kAskedTimes) ++givenUpFirst_;
  givenUpAskedNs_[givenUpEnd_ % kAskedTimes] = askedAtNs;
  ++givenUpEnd_;
  decision.action = Action::kGiveUp;
  return decision;
}

int64_t PacketPlacement::nextDueNs(int64_t askedAtNs, int64_t waitNs) const {
  if (holding_) return heldAtNs_ + quietNs(waitNs);
  return askedAtNs < 0 ? INT64_MAX : askedAtNs + waitNs;
}

void PacketPlacement::played(const uint8_t* packet) {
  if (!tellsCopies_) return;
  std::copy_n(packet, packetBytes_, played_.begin());
  playedKept_ = true;
}

void PacketPlacement::hold(const uint8_t* packet, int64_t now) {
  std::copy_n(packet, packetBytes_, held_.begin());
  holding_ = true;
  heldAtNs_ = now;
  heldAfterLoss_ = givenUpEnd_ > givenUpFirst_;
}

void PacketPlacement::dropHeld(int64_t& lateRoundTripNs) {
  holding_ = false;
  if (!heldAfterLoss_) {
    ++duplicates_;
    return;
  }
  // The oldest given up is the one it most likely was; if an older one was
  // truly lost, the round trip taught is too long, which only waits longer.
  lateRoundTripNs = heldAtNs_ - givenUpAskedNs_[givenUpFirst_ % kAskedTimes];
  ++givenUpFirst_;
  ++overdue_;
}

int64_t PacketPlacement::quietNs(int64_t waitNs) const {
  return heldAfterLoss_ ? std::max(waitNs / 2 + kFollowerMarginNs, copyHoldNs_) : copyHoldNs_;
}

bool PacketPlacement::equalsPlayed(const uint8_t* packet) const {
  return tellsCopies_ && playedKept_ && std::equal(played_.begin(), played_.end(), packet);
}

}  // namespace tavro::sink
