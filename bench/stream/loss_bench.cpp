// tavro-loss-bench: what lost datagrams cost a card over UDP. The driver
// plays the test signal through a relay that drops its datagrams at random
// (seeded) to tavro-sink on the test card, at each loss rate and buffer, once
// with the wait for a lost packet learned from the round trips and once
// with the earlier rule (waiting until the card is nearly dry), the two
// alternating, three times each. Prints the medians as a table.
//
//   tavro-loss-bench [--gtest_filter=...]     (about five minutes)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

#include "sound_card_fixture.h"

namespace tavro::testing {
namespace {

constexpr double kRate = 48000;
constexpr double kSeconds = 3;
constexpr int kRepeats = 3;

struct LossRow {
  sink::GiveUp rule;
  double loss;
  uint32_t index;
  uint32_t packets;
  int repeat;
};

struct Figures {
  uint64_t underruns = 0;
  uint64_t dryMs = 0;  // the card stood dry, at least
  uint64_t lost = 0;
  uint64_t dropped = 0;
  double playedSeconds = 0;
};

using Key = std::tuple<uint32_t, uint32_t, double, int>;  // index, packets, loss, rule
std::map<Key, std::vector<Figures>>& results() {
  static std::map<Key, std::vector<Figures>> all;
  return all;
}

class LossBench : public SoundCardStreamTest, public ::testing::WithParamInterface<LossRow> {};

TEST_P(LossBench, Plays) {
  const LossRow& row = GetParam();
  plugCard("S24_3LE", "48000");
  useWire(Wire::kUdp);
  HostileOptions options = cardOptions(24);
  options.bufferIndex = row.index;
  options.bufferPackets = row.packets;
  options.giveUp = row.rule;
  initThroughRelay(options,
                   {.datagramLoss = row.loss, .seed = static_cast<uint32_t>(1000 + row.repeat)});
  const play::PlayResult played = playSignal(kRate, 0, kSeconds);
  ASSERT_TRUE(played.started) << played.error;
  const sink::StreamReport r = report(1);
  relay_->stop();
  Figures figures;
  figures.underruns = r.underruns;
  figures.lost = r.lost;
  figures.dropped = relay_->datagramsDropped();
  figures.playedSeconds = static_cast<double>(r.packets + r.lost + r.unanswered) * r.packetFrames / kRate;
  for (const std::string& line : peer->lines()) {
    unsigned long long ms = 0;
    if (std::sscanf(line.c_str(), "underrun (at least %llu ms)", &ms) == 1) figures.dryMs += ms;
  }
  results()[{row.index, row.packets, row.loss, static_cast<int>(row.rule)}].push_back(figures);
}

std::vector<LossRow> rows() {
  std::vector<LossRow> all;
  for (const auto& [index, packets] :
       std::vector<std::pair<uint32_t, uint32_t>>{{0, 16}, {0, 32}, {3, 16}, {3, 32}}) {
    for (const double loss : {0.0, 0.005, 0.02, 0.05}) {
      for (int repeat = 0; repeat < kRepeats; ++repeat) {
        for (const sink::GiveUp rule : {sink::GiveUp::kNearlyDry, sink::GiveUp::kLearned}) {
          all.push_back({rule, loss, index, packets, repeat});
        }
      }
    }
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Rows, LossBench, ::testing::ValuesIn(rows()), [](const auto& info) {
  const LossRow& r = info.param;
  return "Index" + std::to_string(r.index) + "Packets" + std::to_string(r.packets) + "Loss" +
         std::to_string(static_cast<int>(r.loss * 1000)) + "Permille" +
         (r.rule == sink::GiveUp::kLearned ? "Learned" : "NearlyDry") + "Run" +
         std::to_string(r.repeat);
});

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? T{} : values[values.size() / 2];
}

class Table : public ::testing::Environment {
 public:
  void TearDown() override {
    std::printf(
        "\n| buffer | card | loss | dropped | lost | underruns (nearly dry -> learned) | "
        "dry ms (nearly dry -> learned) | played s |\n|---|---|---|---|---|---|---|---|\n");
    for (const auto& [key, learned] : results()) {
      const auto [index, packets, loss, rule] = key;
      if (rule != static_cast<int>(sink::GiveUp::kLearned)) continue;
      const auto old =
          results().find({index, packets, loss, static_cast<int>(sink::GiveUp::kNearlyDry)});
      if (old == results().end()) continue;
      auto pick = [](const std::vector<Figures>& runs, auto field) {
        std::vector<double> values;
        for (const Figures& f : runs) values.push_back(static_cast<double>(field(f)));
        return median(values);
      };
      std::printf(
          "| index %u | %u packets | %.1f %% | %.0f | %.0f | %.0f -> %.0f | %.0f -> %.0f | %.2f "
          "|\n",
          index, packets, loss * 100, pick(learned, [](const Figures& f) { return f.dropped; }),
          pick(learned, [](const Figures& f) { return f.lost; }),
          pick(old->second, [](const Figures& f) { return f.underruns; }),
          pick(learned, [](const Figures& f) { return f.underruns; }),
          pick(old->second, [](const Figures& f) { return f.dryMs; }),
          pick(learned, [](const Figures& f) { return f.dryMs; }),
          pick(learned, [](const Figures& f) { return f.playedSeconds; }));
    }
  }
};

const auto* const kTable = ::testing::AddGlobalTestEnvironment(new Table);

}  // namespace
}  // namespace tavro::testing
