// createBuffers and disposeBuffers: sizes and layout of the two halves, every
// failure path, and that nothing made is ever leaked or left dangling.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/open_driver.h"

namespace tavro::driver {
namespace {

using platform::Call;
using platform::callCount;
using platform::FaultPlan;
using platform::ScopedFault;
using testing::FakeOpenConnections;
using testing::RateChangeLog;

class OutputBuffersTest : public testing::OpenDriverTest {
 protected:
  void SetUp() override {
    OpenDriverTest::SetUp();
    RateChangeLog::reset();
    callbacks.bufferSwitch = testing::ignoreBufferSwitch;
    callbacks.sampleRateDidChange = RateChangeLog::record;
  }

  static asio::AsioBufferInfo record(int32_t channel) {
    return {
        asio::kAsioFalse, channel, {reinterpret_cast<void*>(0x1), reinterpret_cast<void*>(0x2)}};
  }

  static ptrdiff_t secondHalfOffset(const asio::AsioBufferInfo& info) {
    return static_cast<char*>(info.buffers[1]) - static_cast<char*>(info.buffers[0]);
  }

  // What a host sees of the buffers the driver holds.
  bool active(int32_t channel) {
    asio::AsioChannelInfo info{};
    info.channel = channel;
    driver->getChannelInfo(&info);
    return info.isActive == asio::kAsioTrue;
  }

  // Whether the driver holds this test's callbacks: only then does a rate
  // change reach their handler. The rate is put back.
  bool holdsCallbacks() {
    double rate = 0.0;
    driver->getSampleRate(&rate);
    const int callsBefore = RateChangeLog::calls;
    driver->setSampleRate(rate + 1.0);
    driver->setSampleRate(rate);
    return RateChangeLog::calls > callsBefore;
  }

  // Everything a failed createBuffers must leave behind.
  void expectDisposed() {
    EXPECT_FALSE(active(0));
    EXPECT_FALSE(active(1));
    EXPECT_FALSE(holdsCallbacks());
    EXPECT_FALSE(testing::controlConnectionOpen());
    EXPECT_FALSE(testing::dataSocketOpen());
    EXPECT_EQ(callCount(Call::VirtualFree), callCount(Call::VirtualAlloc) - failedAllocations)
        << "every block made was released";
  }

  asio::AsioCallbacks callbacks{};
  uint32_t failedAllocations = 0;
};

struct SizeCase {
  const char* name;
  double rate;
  int32_t bufferSize;
  ptrdiff_t halfBytes;
};

class BufferSizeLayoutTest : public OutputBuffersTest,
                             public ::testing::WithParamInterface<SizeCase> {};

TEST_P(BufferSizeLayoutTest, SecondHalfFollowsTheFirstAndBothAreWritable) {
  const SizeCase& c = GetParam();
  driver->setSampleRate(c.rate);
  asio::AsioBufferInfo infos[2] = {record(0), record(1)};
  ASSERT_EQ(driver->createBuffers(infos, 2, c.bufferSize, &callbacks), asio::kAseOk);
  for (const asio::AsioBufferInfo& info : infos) {
    ASSERT_NE(info.buffers[0], nullptr);
    EXPECT_EQ(secondHalfOffset(info), c.halfBytes);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.buffers[0]) % 4096, 0u) << "whole pages";
    // The host fills both halves to their last byte.
    std::memset(info.buffers[0], 0x11, static_cast<size_t>(c.halfBytes));
    std::memset(info.buffers[1], 0x22, static_cast<size_t>(c.halfBytes));
  }
  EXPECT_TRUE(active(0));
  EXPECT_TRUE(active(1));
  EXPECT_TRUE(holdsCallbacks());
  EXPECT_EQ(callCount(Call::VirtualAlloc), 2u);
}

INSTANTIATE_TEST_SUITE_P(Table, BufferSizeLayoutTest,
                         ::testing::Values(SizeCase{"Pcm44100", 44100.0, 4096, 16384},
                                           SizeCase{"Pcm2MHz", 2000000.0, 4096, 16384},
                                           SizeCase{"Dsd64", 2822400.0, 4096, 512},
                                           SizeCase{"Dsd512", 22579200.0, 12582912, 1572864},
                                           SizeCase{"DsdSizeNotOf32", 2822400.0, 100, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutputBuffersTest, ZeroRecordsKeepTheCallbacksAndMakeNoBuffer) {
  EXPECT_EQ(driver->createBuffers(nullptr, 0, 64, &callbacks), asio::kAseOk);
  EXPECT_TRUE(holdsCallbacks());
  EXPECT_FALSE(active(0));
  EXPECT_FALSE(active(1));
  EXPECT_EQ(callCount(Call::VirtualAlloc), 0u);
}

TEST_F(OutputBuffersTest, TwoRecordsForOneChannelAreBothServed) {
  asio::AsioBufferInfo infos[2] = {record(1), record(1)};
  ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), asio::kAseOk);
  EXPECT_EQ(callCount(Call::VirtualAlloc), 2u);
  EXPECT_NE(infos[0].buffers[0], nullptr);
  EXPECT_NE(infos[1].buffers[0], nullptr);
  EXPECT_NE(infos[0].buffers[0], infos[1].buffers[0]);
}

TEST_F(OutputBuffersTest, InputFlagIsIgnoredAndTheRecordServedAsOutput) {
  asio::AsioBufferInfo infos[1] = {{asio::kAsioTrue, 0, {nullptr, nullptr}}};
  ASSERT_EQ(driver->createBuffers(infos, 1, 64, &callbacks), asio::kAseOk);
  EXPECT_NE(infos[0].buffers[0], nullptr);
}

struct RefusedRecordsCase {
  const char* name;
  std::vector<int32_t> channels;
  uint32_t blocksMadeBefore;
};

class RefusedRecordsTest : public OutputBuffersTest,
                           public ::testing::WithParamInterface<RefusedRecordsCase> {};

TEST_P(RefusedRecordsTest, DisposeEverythingAndLeaveNoPointerBehind) {
  const RefusedRecordsCase& c = GetParam();
  FakeOpenConnections connections;
  std::vector<asio::AsioBufferInfo> infos;
  for (int32_t channel : c.channels) infos.push_back(record(channel));
  EXPECT_EQ(driver->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), 64, &callbacks),
            asio::kAseInvalidParameter);
  EXPECT_EQ(callCount(Call::VirtualAlloc), c.blocksMadeBefore);
  expectDisposed();
  EXPECT_EQ(callCount(Call::closesocket), 1u) << "the control connection";
  for (size_t i = 0; i < c.blocksMadeBefore; ++i) {
    EXPECT_EQ(infos[i].buffers[0], nullptr) << "record " << i << " would point at freed memory";
    EXPECT_EQ(infos[i].buffers[1], nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedRecordsTest,
                         ::testing::Values(RefusedRecordsCase{"ChannelTwo", {2}, 0},
                                           RefusedRecordsCase{"NegativeChannel", {-1}, 0},
                                           RefusedRecordsCase{"BadChannelAfterAGoodOne", {0, 2}, 1},
                                           RefusedRecordsCase{"ThirdRecord", {0, 1, 0}, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AllocationFailureCase {
  const char* name;
  FaultPlan plan;
  uint32_t failures;
};

class AllocationFailureTest : public OutputBuffersTest,
                              public ::testing::WithParamInterface<AllocationFailureCase> {};

TEST_P(AllocationFailureTest, TriesEveryRecordThenReportsNoMemoryWithNothingLeft) {
  const AllocationFailureCase& c = GetParam();
  FakeOpenConnections connections;
  asio::AsioBufferInfo infos[2] = {record(0), record(1)};
  {
    ScopedFault noMemory(Call::VirtualAlloc, c.plan);
    EXPECT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), asio::kAseNoMemory);
  }
  failedAllocations = c.failures;
  EXPECT_EQ(callCount(Call::VirtualAlloc), 2u) << "the record after a failure is still tried";
  expectDisposed();
  for (const asio::AsioBufferInfo& info : infos) {
    EXPECT_EQ(info.buffers[0], nullptr);
    EXPECT_EQ(info.buffers[1], nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AllocationFailureTest,
    ::testing::Values(AllocationFailureCase{"FirstFails", {.skip = 0, .times = 1}, 1},
                      AllocationFailureCase{"SecondFails", {.skip = 1, .times = 1}, 1},
                      AllocationFailureCase{"BothFail", {.skip = 0, .times = -1}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutputBuffersTest, SizesThatGiveNoWordsFailWithoutAskingTheSystem) {
  struct Case {
    double rate;
    int32_t bufferSize;
  };
  for (const Case& c : {Case{44100.0, 0}, Case{44100.0, -64}, Case{2822400.0, 31}}) {
    SCOPED_TRACE(c.bufferSize);
    driver->setSampleRate(c.rate);
    asio::AsioBufferInfo infos[1] = {record(0)};
    EXPECT_EQ(driver->createBuffers(infos, 1, c.bufferSize, &callbacks), asio::kAseNoMemory);
    EXPECT_EQ(infos[0].buffers[0], nullptr);
    EXPECT_FALSE(active(0));
  }
  EXPECT_EQ(callCount(Call::VirtualAlloc), 0u);
}

TEST_F(OutputBuffersTest, CreatingAgainReleasesTheEarlierBuffersButKeepsTheConnection) {
  FakeOpenConnections connections;
  asio::AsioBufferInfo first[2] = {record(0), record(1)};
  ASSERT_EQ(driver->createBuffers(first, 2, 64, &callbacks), asio::kAseOk);
  // Other callbacks, without a rate handler: the first ones are no longer held.
  asio::AsioCallbacks other{};
  asio::AsioBufferInfo second[1] = {record(1)};
  ASSERT_EQ(driver->createBuffers(second, 1, 128, &other), asio::kAseOk);
  EXPECT_EQ(callCount(Call::VirtualFree), 2u);
  EXPECT_EQ(callCount(Call::VirtualAlloc), 3u);
  EXPECT_FALSE(active(0));
  EXPECT_TRUE(active(1));
  EXPECT_EQ(secondHalfOffset(second[0]), 128 * 4);
  EXPECT_FALSE(holdsCallbacks());
  EXPECT_TRUE(testing::controlConnectionOpen());
  EXPECT_EQ(callCount(Call::closesocket), 0u);
}

TEST_F(OutputBuffersTest, DisposeReleasesTheBuffersAndClosesTheConnections) {
  FakeOpenConnections connections;
  asio::AsioBufferInfo infos[2] = {record(0), record(1)};
  ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), asio::kAseOk);
  EXPECT_EQ(driver->disposeBuffers(), asio::kAseOk);
  expectDisposed();
  EXPECT_EQ(driver->disposeBuffers(), asio::kAseOk) << "a second dispose finds nothing to do";
  EXPECT_EQ(callCount(Call::VirtualFree), 2u);
}

TEST_F(OutputBuffersTest, TheLastReleaseFreesBuffersLeftByTheHost) {
  asio::AsioBufferInfo infos[2] = {record(0), record(1)};
  ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), asio::kAseOk);
  EXPECT_EQ(driver->Release(), 0u);
  driver = nullptr;
  EXPECT_EQ(callCount(Call::VirtualFree), 2u);
}

TEST_F(OutputBuffersTest, ManyCreateDisposeCyclesBalanceEveryAllocation) {
  constexpr uint32_t kCycles = 10000;
  for (uint32_t i = 0; i < kCycles; ++i) {
    asio::AsioBufferInfo infos[2] = {record(0), record(1)};
    ASSERT_EQ(driver->createBuffers(infos, 2, 1024, &callbacks), asio::kAseOk);
    static_cast<uint32_t*>(infos[1].buffers[1])[1023] = i;
    ASSERT_EQ(driver->disposeBuffers(), asio::kAseOk);
  }
  EXPECT_EQ(callCount(Call::VirtualAlloc), 2 * kCycles);
  EXPECT_EQ(callCount(Call::VirtualFree), 2 * kCycles);
}

}  // namespace
}  // namespace tavro::driver
