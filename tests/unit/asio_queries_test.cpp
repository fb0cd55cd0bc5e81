// What a host learns from the driver before and while it streams: channels,
// latencies, buffer size, rates, clock, position, channel information and the
// future extensions.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "driver/sample_position.h"
#include "platform/clock.h"
#include "support/open_driver.h"

namespace tavro::driver {
namespace {

using platform::Call;
using platform::ScopedFault;
using testing::RateChangeLog;

class AsioQueriesTest : public testing::OpenDriverTest {
 protected:
  void SetUp() override {
    OpenDriverTest::SetUp();
    RateChangeLog::reset();
    callbacks.bufferSwitch = testing::ignoreBufferSwitch;
    callbacks.sampleRateDidChange = RateChangeLog::record;
  }

  asio::AsioCallbacks callbacks{};
};

// Before init has read the streamer's choice, the table's first entry; the
// choice itself and what start makes of the size are tested with a streamer.
TEST_F(AsioQueriesTest, BufferSizeOffersOneSizeScaledToTheRate) {
  struct Case {
    double rate;
    int32_t frames;
  };
  for (const Case& c : {Case{44100.0, 48}, Case{176400.0, 192}, Case{22579200.0, 24576}}) {
    SCOPED_TRACE(c.rate);
    driver->setSampleRate(c.rate);
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = -1;
    EXPECT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), asio::kAseOk);
    EXPECT_EQ(minSize, c.frames);
    EXPECT_EQ(maxSize, c.frames);
    EXPECT_EQ(preferred, c.frames);
    EXPECT_EQ(granularity, 0);
  }
}

TEST_F(AsioQueriesTest, EveryRateCanBeAskedForAndIsReportedBack) {
  for (double rate : {0.0, 44100.0, 2822400.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(driver->canSampleRate(rate), asio::kAseOk);
  }
  EXPECT_EQ(driver->setSampleRate(96000.0), asio::kAseOk);
  double rate = 0.0;
  EXPECT_EQ(driver->getSampleRate(&rate), asio::kAseOk);
  EXPECT_EQ(rate, 96000.0);
}

struct RateChangeCase {
  const char* name;
  bool withCallbacks;
  bool withHandler;
  double newRate;
  int expectedCalls;
};

class SetSampleRateTest : public AsioQueriesTest,
                          public ::testing::WithParamInterface<RateChangeCase> {};

TEST_P(SetSampleRateTest, TellsTheHostOnlyOfARealChangeWhileItHoldsItsCallbacks) {
  const RateChangeCase& c = GetParam();
  if (!c.withHandler) callbacks.sampleRateDidChange = nullptr;
  if (c.withCallbacks) {
    ASSERT_EQ(driver->createBuffers(nullptr, 0, 64, &callbacks), asio::kAseOk);
  }
  EXPECT_EQ(driver->setSampleRate(c.newRate), asio::kAseOk);
  double rate = 0.0;
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, c.newRate);
  EXPECT_EQ(RateChangeLog::calls, c.expectedCalls);
  if (c.expectedCalls > 0) {
    EXPECT_EQ(RateChangeLog::lastRate, c.newRate);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetSampleRateTest,
    ::testing::Values(RateChangeCase{"SameRateWithCallbacks", true, true, 44100.0, 0},
                      RateChangeCase{"NewRateWithCallbacks", true, true, 48000.0, 1},
                      RateChangeCase{"NewDsdRateWithCallbacks", true, true, 2822400.0, 1},
                      RateChangeCase{"NewRateWithoutBuffers", false, true, 48000.0, 0},
                      RateChangeCase{"NewRateWithoutHandler", true, false, 48000.0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AsioQueriesTest, DisposedBuffersTakeTheHostCallbacksWithThem) {
  ASSERT_EQ(driver->createBuffers(nullptr, 0, 64, &callbacks), asio::kAseOk);
  driver->disposeBuffers();
  driver->setSampleRate(48000.0);
  EXPECT_EQ(RateChangeLog::calls, 0);
}

TEST_F(AsioQueriesTest, ReportsOneInternalClockWhateverCountIsOffered) {
  std::array<asio::AsioClockSource, 2> clocks;
  std::memset(clocks.data(), 0x5A, sizeof clocks);
  int32_t count = 5;
  EXPECT_EQ(driver->getClockSources(clocks.data(), &count), asio::kAseOk);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(clocks[0].index, 0);
  EXPECT_EQ(clocks[0].associatedChannel, -1);
  EXPECT_EQ(clocks[0].associatedGroup, -1);
  EXPECT_EQ(clocks[0].isCurrentSource, asio::kAsioTrue);
  EXPECT_STREQ(clocks[0].name, "Internal");
  EXPECT_EQ(clocks[1].index, 0x5A5A5A5A) << "only the first record is written";

  EXPECT_EQ(driver->setClockSource(0), asio::kAseOk);
  EXPECT_EQ(driver->setClockSource(1), asio::kAseNotPresent);
  EXPECT_EQ(driver->setClockSource(-1), asio::kAseNotPresent);
}

TEST(SamplePositionTest, LowWordIsTheTruncatedCountModuloTwoTo32) {
  struct Case {
    double frames;
    uint32_t low;
  };
  const Case cases[] = {
      {0.0, 0u},
      {64.9, 64u},
      {4294967295.0, 0xFFFFFFFFu},
      {4294967296.0, 0u},
      {4294967296.0 + 7.5, 7u},
      {3 * 4294967296.0 + 1024.0, 1024u},
      {9007199254740992.0, 0u},  // 2^53
      {1e30, static_cast<uint32_t>(std::fmod(1e30, 4294967296.0))},
      {-1.0, 0u},
      {std::numeric_limits<double>::quiet_NaN(), 0u},
      {std::numeric_limits<double>::infinity(), 0u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    EXPECT_EQ(positionLowWord(c.frames), c.low);
  }
}

// The low word's arithmetic is tested above; the record a host gets has a
// high word of 0 and, with no stream, no time stamp.
TEST_F(AsioQueriesTest, PositionWithoutAStreamHasAHighWordOfZeroAndNoTimeStamp) {
  asio::AsioSamples position{0xDEAD, 0xBEEF};
  asio::AsioTimeStamp stamp{0x1111, 0x2222};
  EXPECT_EQ(driver->getSamplePosition(&position, &stamp), asio::kAseOk);
  EXPECT_EQ(position.hi, 0u);
  EXPECT_EQ(position.lo, 0u);
  EXPECT_EQ(stamp.hi, 0x1111u) << "no stream, no time stamp";
  EXPECT_EQ(stamp.lo, 0x2222u);
}

TEST(MonotonicClockTest, AnInjectedFailureReadsAsZero) {
  ScopedFault noClock(Call::QueryPerformanceCounter);
  EXPECT_EQ(platform::monotonicNanoseconds(), 0u);
}

struct ChannelCase {
  const char* name;
  int32_t channel;
  asio::AsioBool isInput;
  double rate;
  asio::AsioError result;
  asio::AsioSampleType type;
};

class ChannelInfoTest : public AsioQueriesTest,
                        public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(ChannelInfoTest, DescribesOutputsAndRefusesEverythingElseUntouched) {
  const ChannelCase& c = GetParam();
  driver->setSampleRate(c.rate);
  asio::AsioChannelInfo info;
  std::memset(&info, 0x5A, sizeof info);
  info.channel = c.channel;
  info.isInput = c.isInput;
  asio::AsioChannelInfo before = info;
  EXPECT_EQ(driver->getChannelInfo(&info), c.result);
  if (c.result != asio::kAseOk) {
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << "nothing written";
    return;
  }
  EXPECT_EQ(info.channel, c.channel);
  EXPECT_EQ(info.type, c.type);
  EXPECT_EQ(info.isActive, asio::kAsioFalse);
  EXPECT_EQ(info.channelGroup, 0);
  EXPECT_STREQ(info.name, "TAVROStreamer");
  EXPECT_EQ(info.name[14], 0x5A) << "the name and its NUL, nothing more";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelInfoTest,
    ::testing::Values(
        ChannelCase{"Negative", -1, asio::kAsioFalse, 44100.0, asio::kAseInvalidParameter, 0},
        ChannelCase{"Input", 0, asio::kAsioTrue, 44100.0, asio::kAseInvalidParameter, 0},
        ChannelCase{"ThirdOutput", 2, asio::kAsioFalse, 44100.0, asio::kAseInvalidParameter, 0},
        ChannelCase{"LeftPcm", 0, asio::kAsioFalse, 44100.0, asio::kAseOk, asio::kInt32Lsb},
        ChannelCase{"RightPcm", 1, asio::kAsioFalse, 44100.0, asio::kAseOk, asio::kInt32Lsb},
        ChannelCase{"AtTwoMegahertz", 1, asio::kAsioFalse, 2000000.0, asio::kAseOk,
                    asio::kInt32Lsb},
        ChannelCase{"RightDsd64", 1, asio::kAsioFalse, 2822400.0, asio::kAseOk, asio::kDsdInt8Msb1},
        ChannelCase{"LeftDsd512", 0, asio::kAsioFalse, 22579200.0, asio::kAseOk,
                    asio::kDsdInt8Msb1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AsioQueriesTest, ChannelsWithBuffersReportActive) {
  asio::AsioBufferInfo infos[1] = {{asio::kAsioFalse, 1, {nullptr, nullptr}}};
  ASSERT_EQ(driver->createBuffers(infos, 1, 64, &callbacks), asio::kAseOk);
  asio::AsioChannelInfo info{};
  info.channel = 0;
  driver->getChannelInfo(&info);
  EXPECT_EQ(info.isActive, asio::kAsioFalse);
  info.channel = 1;
  driver->getChannelInfo(&info);
  EXPECT_EQ(info.isActive, asio::kAsioTrue);

  driver->disposeBuffers();
  driver->getChannelInfo(&info);
  EXPECT_EQ(info.isActive, asio::kAsioFalse);
}

// ---- future -------------------------------------------------------------

constexpr int32_t kDrivePathSelector = 48168;

TEST_F(AsioQueriesTest, EveryFormatSelectorGrantsAndAnswersDsd) {
  for (int32_t selector :
       {asio::kAsioSetIoFormat, asio::kAsioGetIoFormat, asio::kAsioCanDoIoFormat}) {
    SCOPED_TRACE(selector);
    asio::AsioIoFormat format;
    std::memset(&format, 0x77, sizeof format);
    format.formatType = asio::kAsioPcmFormat;
    EXPECT_EQ(driver->future(selector, &format), asio::kAseSuccess);
    EXPECT_EQ(format.formatType, asio::kAsioDsdFormat);
    const std::array<char, sizeof format.future> zeros{};
    EXPECT_EQ(std::memcmp(format.future, zeros.data(), zeros.size()), 0);
  }
}

TEST_F(AsioQueriesTest, UnknownSelectorsAreNotPresentAndWriteNothing) {
  std::array<unsigned char, 600> memory;
  memory.fill(0x33);
  const auto before = memory;
  for (int32_t selector = asio::kAsioEnableTimeCodeRead; selector <= asio::kAsioOptionalOne;
       ++selector) {
    EXPECT_EQ(driver->future(selector, memory.data()), asio::kAseNotPresent) << selector;
  }
  for (int32_t selector : {0, -1, kDrivePathSelector - 1, kDrivePathSelector + 1,
                           static_cast<int32_t>(asio::kAsioCanReportOverload),
                           static_cast<int32_t>(asio::kAsioGetInternalBufferSamples),
                           static_cast<int32_t>(asio::kAsioSupportsInputResampling)}) {
    EXPECT_EQ(driver->future(selector, memory.data()), asio::kAseNotPresent) << selector;
  }
  EXPECT_EQ(memory, before);
}

TEST_F(AsioQueriesTest, DrivePathSelectorWritesTheTextEightyBytesIn) {
  std::array<char, 96> memory;
  memory.fill('#');
  EXPECT_EQ(driver->future(kDrivePathSelector, memory.data()), asio::kAseSuccess);
  EXPECT_EQ(memory[80], '\0') << "a fresh object has no drive";
  EXPECT_EQ(memory[79], '#');
  EXPECT_EQ(memory[81], '#');
}

TEST_F(AsioQueriesTest, KnownSelectorsRefuseANullArgument) {
  for (int32_t selector :
       {static_cast<int32_t>(asio::kAsioSetIoFormat), static_cast<int32_t>(asio::kAsioGetIoFormat),
        static_cast<int32_t>(asio::kAsioCanDoIoFormat), kDrivePathSelector}) {
    EXPECT_EQ(driver->future(selector, nullptr), asio::kAseInvalidParameter) << selector;
  }
}

}  // namespace
}  // namespace tavro::driver
