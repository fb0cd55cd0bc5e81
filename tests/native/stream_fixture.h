#pragma once
// A host that plays the test signal through a real driver to an in-process
// tavro-sink, which checks every sample where it arrives.
#include <dirent.h>

#include <chrono>
#include <string>

#include "control_fixture.h"
#include "platform/fault.h"
#include "platform/version_fault.h"
#include "play/audio_source.h"
#include "play/player.h"

namespace tavro::testing {

enum class Wire { kTcp, kUdp, kRio };

inline const char* wireName(Wire wire) {
  return wire == Wire::kTcp ? "Tcp" : wire == Wire::kUdp ? "Udp" : "Rio";
}

// Open descriptors of this process: a leaked socket or event shows here.
inline int openDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

inline bool isDsdRate(double rate) { return rate >= 2822400.0; }

class StreamTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    descriptorsBefore = openDescriptors();
  }

  // Plain UDP where Windows reports 6.1, Registered I/O where it reports 6.2.
  void useWire(Wire wire) {
    wire_ = wire;
    version_.emplace(platform::Call::GetVersionExA,
                     platform::FaultPlan{0, -1,
                                         wire == Wire::kRio ? platform::versionFaultValue(6, 2)
                                                            : platform::versionFaultValue(6, 1)});
  }

  HostileOptions sinkOptions(uint32_t wordLength, uint32_t shift, uint32_t bufferIndex) const {
    HostileOptions options;
    options.transport = wire_ == Wire::kTcp ? 1 : 2;
    options.wordLength = wordLength;
    options.shift = shift;
    options.bufferIndex = bufferIndex;
    options.verify = true;
    return options;
  }

  void initAgainst(HostileOptions options) {
    startPeer(std::move(options));
    setSetting(control::kSinglePcValue, "0");
    setSetting(control::kHostValue, address);
    ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  }

  // Buffers as a host makes them, filled by nobody.
  void createSilentBuffers() {
    static asio::AsioCallbacks callbacks{&ignoreBufferSwitch, nullptr, nullptr, nullptr};
    asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    ASSERT_EQ(driver->createBuffers(infos, 2, preferred, &callbacks), asio::kAseOk);
  }

  play::PlayResult playSignal(double rate, int64_t halves, double seconds = 20) {
    auto source = play::makeTestSignal(isDsdRate(rate));
    return play::play(*driver, *source, rate, seconds, halves);
  }

  // The report of stream `number` (from 1), once the sink has written it.
  sink::StreamReport report(size_t number) {
    EXPECT_TRUE(peer->waitForReports(number, std::chrono::seconds(20)));
    const auto reports = peer->reports();
    return reports.size() >= number ? reports[number - 1] : sink::StreamReport{};
  }

  // Nothing of a stream outlives it: thread, sockets, events, pages.
  void expectNothingLeftOpen() {
    EXPECT_TRUE(streamThreadGone());
    EXPECT_FALSE(dataSocketOpen());
    EXPECT_EQ(platform::callCount(platform::Call::VirtualAlloc) - failedAllocations,
              platform::callCount(platform::Call::VirtualFree));
  }

  void TearDown() override {
    if (driver != nullptr) driver->disposeBuffers();
    expectNothingLeftOpen();
    const bool hadPeer = peer != nullptr;
    if (peer) peer->stop();
    peer.reset();
    version_.reset();
    ControlTest::TearDown();
    if (hadPeer) {
      EXPECT_EQ(openDescriptors(), descriptorsBefore);
    }
  }

  Wire wire_ = Wire::kTcp;
  std::optional<platform::ScopedFault> version_;
  int descriptorsBefore = 0;
  uint32_t failedAllocations = 0;  // injected: attempted, never freed
};

}  // namespace tavro::testing
