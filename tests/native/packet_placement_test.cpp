#include "sink/network/packet_placement.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace tavro::sink {
namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kWaitNs = 5 * kMs;
constexpr int64_t kCopyHoldNs = kMs / 2;
constexpr size_t kPacketBytes = 4;

// A script of what the sink sees, in time order, after packet A has played
// and the next is asked for at 0 ms:
//   X@ms  packet X comes (packets with the same letter are alike)
//   t@ms  the sink looks at the time, nothing waiting in the socket
//   s@ms  the stream's stop datagram comes
//   u@ms  a packet comes while none is asked for
// As the sink does, the next packet is asked for as soon as a slot is filled.
// The result is what the card's slots hold, '-' for silence.
struct Placed {
  std::string slots = "A";
  uint64_t overdue = 0;
  uint64_t duplicates = 0;
};

Placed run(const std::string& script) {
  PacketPlacement placement(kPacketBytes, true, kCopyHoldNs);
  Placed placed;
  const std::string a(kPacketBytes, 'A');
  placement.played(reinterpret_cast<const uint8_t*>(a.data()));
  int64_t askedAt = 0;
  auto fill = [&](char slot, const uint8_t* packet, int64_t now) {
    placed.slots += slot;
    if (packet != nullptr) placement.played(packet);
    askedAt = now;
  };
  std::istringstream steps(script);
  std::string step;
  while (steps >> step) {
    const char what = step[0];
    const int64_t now = static_cast<int64_t>(std::stod(step.substr(2)) * kMs);
    const std::string packet(kPacketBytes, what);
    const auto* bytes = reinterpret_cast<const uint8_t*>(packet.data());
    const uint8_t* held = placement.held();
    if (what == 'u') {
      placement.arrivedUnasked();
    } else if (what == 's') {
      if (placement.stopCame() == PacketPlacement::Action::kPlayHeld) {
        fill(static_cast<char>(held[0]), held, now);
      }
    } else if (what == 't') {
      switch (placement.due(now, askedAt, kWaitNs).action) {
        case PacketPlacement::Action::kPlayHeld:
          fill(static_cast<char>(held[0]), held, now);
          break;
        case PacketPlacement::Action::kGiveUp:
          fill('-', nullptr, now);
          break;
        default:
          break;
      }
    } else if (placement.arrived(bytes, now).action == PacketPlacement::Action::kPlay) {
      fill(what, bytes, now);
    }
  }
  placed.overdue = placement.overdue();
  placed.duplicates = placement.duplicates();
  return placed;
}

struct PlacementCase {
  const char* name;
  const char* script;
  const char* slots;
  uint64_t overdue;
  uint64_t duplicates;
};

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.name; }

class PacketPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PacketPlacementTest, EveryPacketPlaysInItsOwnSlotOrNotAtAll) {
  const PlacementCase& c = GetParam();
  const Placed placed = run(c.script);
  EXPECT_EQ(placed.slots, c.slots) << c.script;
  EXPECT_EQ(placed.overdue, c.overdue);
  EXPECT_EQ(placed.duplicates, c.duplicates);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, PacketPlacementTest,
    ::testing::Values(
        PlacementCase{"PacketsInTimePlayAtOnce", "B@0.2 C@0.4 t@0.5", "ABC", 0, 0},
        // The one after a loss is held as long as a lost one is waited for,
        // since a late one would come first.
        PlacementCase{"ALossCostsItsSlotOnly", "t@5 C@5.2 t@10.1 t@10.3", "A-C", 0, 0},
        PlacementCase{"ALatePacketGivenUpIsDroppedAndTheNextPlays", "t@5 B@7 C@7.1 D@7.3",
                      "A-CD", 1, 0},
        PlacementCase{"LatePacketsOneAfterAnotherKeepTheirOrder",
                      "t@5 t@10 B@12 C@12.1 D@12.2 E@12.4", "A--DE", 2, 0},
        PlacementCase{"AFollowerLateByLessThanTheWaitIsStillTold", "t@5 B@7 t@9 C@11 t@15",
                      "A-C", 1, 0},
        PlacementCase{"ALateOneComingBeforeTheNextIsAskedIsDropped", "t@5 u@6 C@6.1",
                      "A-C", 1, 0},
        PlacementCase{"ACopyOfThePacketBeforeIsDropped", "A@0.2 A@0.25 B@0.3", "AB", 0, 2},
        PlacementCase{"DigitalSilencePlaysWhole", "A@0.2 t@0.8 A@0.9 t@1.5 A@1.6 t@2.2", "AAAA",
                      0, 0},
        PlacementCase{"LateSilenceCostsNoMoreThanItsSlot", "t@5 A@7 A@7.1 t@12.1", "A-A", 0, 1},
        PlacementCase{"ACopyOfALatePacketIsNotTakenForTheNext", "t@5 B@7 B@7.05 C@7.2", "A-C", 1,
                      1},
        PlacementCase{"TheStopPlaysWhatIsHeldAsTheLast", "A@0.2 s@0.3", "AA", 0, 0},
        PlacementCase{"NothingComesAfterALossAndSilenceGoesOn", "t@5 t@10 t@15", "A---", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::sink
