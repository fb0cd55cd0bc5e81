// Many start/stop cycles, each against a streamer that behaves differently
// (streams on, closes after a few ticks, falls silent, sends junk ticks,
// floods ticks), with the host racing the streaming thread: stop from two
// threads at once, disposeBuffers without stop, or a second driver object
// made mid-stream.
// Nothing may hang, and afterwards nothing may be left open. Run under the
// sanitizers by scripts/test-all; scripts/soak runs the long form.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/open_counts.h"
#include "stream_fixture.h"

namespace tavro::testing {
namespace {

using std::chrono::microseconds;

enum class Peer { kStreams, kCloses, kFallsSilent, kJunkTicks, kFloods, kCount };
enum class Race { kPlainStop, kTwoStops, kDisposeWithoutStop, kSecondObject, kCount };

int cycles() {
  const char* text = std::getenv("TAVRO_SOAK_CYCLES");
  const int value = text != nullptr ? std::atoi(text) : 0;
  return value > 0 ? value : 40;
}

std::array<int64_t, static_cast<size_t>(platform::Resource::kCount)> openNow() {
  std::array<int64_t, static_cast<size_t>(platform::Resource::kCount)> open{};
  for (size_t k = 0; k < open.size(); ++k) {
    open[k] = platform::openCount(static_cast<platform::Resource>(k));
  }
  return open;
}

class SoakTest : public StreamTest, public ::testing::WithParamInterface<Wire> {};

TEST_P(SoakTest, StartStopCyclesWithAMisbehavingStreamerAndRacingHost) {
  useWire(GetParam());
  std::mt19937 random(12);
  const auto openBefore = openNow();
  const int count = cycles();
  setSetting(control::kSinglePcValue, "0");
  setSetting(control::kHostValue, address);
  asio::AsioCallbacks callbacks{&ignoreBufferSwitch, nullptr, nullptr, nullptr};
  for (int cycle = 0; cycle < count; ++cycle) {
    const auto peerKind = static_cast<Peer>(random() % static_cast<uint32_t>(Peer::kCount));
    const auto race = static_cast<Race>(random() % static_cast<uint32_t>(Race::kCount));
    SCOPED_TRACE(cycle);
    HostileOptions options = sinkOptions(24, 0, 0);
    options.verify = false;
    options.tickLimit =
        peerKind == Peer::kStreams || peerKind == Peer::kJunkTicks || peerKind == Peer::kFloods
            ? 0
            : 1 + static_cast<uint32_t>(random() % 4);
    options.tickStyle = peerKind == Peer::kFloods ? TickStyle::kFlood : TickStyle::kPaced;
    options.silentAtLimit = peerKind == Peer::kFallsSilent;
    options.tickBytes = peerKind == Peer::kJunkTicks ? 3 : 2;
    startPeer(options);
    ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
    ASSERT_EQ(driver->createBuffers(infos, 2, preferred, &callbacks), asio::kAseOk);
    ASSERT_EQ(driver->start(), asio::kAseOk) << errorText();
    std::this_thread::sleep_for(microseconds(random() % 4000));
    switch (race) {
      case Race::kPlainStop:
        EXPECT_EQ(driver->stop(), asio::kAseOk);
        break;
      case Race::kTwoStops: {
        std::thread other([&] { EXPECT_EQ(driver->stop(), asio::kAseOk); });
        EXPECT_EQ(driver->stop(), asio::kAseOk);
        other.join();
        break;
      }
      case Race::kDisposeWithoutStop:
        EXPECT_EQ(driver->disposeBuffers(), asio::kAseOk);
        break;
      case Race::kSecondObject: {
        asio::IAsio* second = createDriver();
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->Release(), 0u);
        EXPECT_EQ(driver->stop(), asio::kAseOk);
        break;
      }
      case Race::kCount:
        break;
    }
    EXPECT_TRUE(streamThreadGone());
    driver->disposeBuffers();
    peer->stop();
    peer.reset();
    // A fresh object for the next cycle, as a player reopening its device.
    ASSERT_EQ(driver->Release(), 0u);
    driver = createDriver();
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(openNow(), openBefore) << "after cycle " << cycle;
    if (HasFailure()) break;
  }
  std::printf("soak: %d cycles\n", count);
}

INSTANTIATE_TEST_SUITE_P(AllWires, SoakTest, ::testing::Values(Wire::kTcp, Wire::kUdp, Wire::kRio),
                         [](const auto& info) { return std::string(wireName(info.param)); });

}  // namespace
}  // namespace tavro::testing
