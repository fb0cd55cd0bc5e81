// What start will refuse so that packing never meets a missing buffer or
// reads past a half.
#include "driver/stream_readiness.h"

#include <gtest/gtest.h>

#include <cstring>

#include "control/error_texts.h"
#include "support/open_driver.h"

namespace tavro::driver {
namespace {

int block[1];

struct ReadinessCase {
  const char* name;
  OutputBufferState state;
  BufferRefusal refusal;
};

class CheckOutputBuffersTest : public ::testing::TestWithParam<ReadinessCase> {};

TEST_P(CheckOutputBuffersTest, RefusesWhatPackingCouldNotReadSafely) {
  EXPECT_EQ(checkOutputBuffers(GetParam().state), GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckOutputBuffersTest,
    ::testing::Values(
        ReadinessCase{"BothPcm", {{block, block}, 2, 1024, 1024, 44100.0}, BufferRefusal::kNone},
        ReadinessCase{"BothDsd", {{block, block}, 2, 96, 3072, 2822400.0}, BufferRefusal::kNone},
        ReadinessCase{
            "NoBuffers", {{nullptr, nullptr}, 0, 0, 64, 44100.0}, BufferRefusal::kMissingChannel},
        ReadinessCase{
            "OneBuffer", {{block, nullptr}, 1, 64, 64, 44100.0}, BufferRefusal::kMissingChannel},
        ReadinessCase{"NullDespiteCount",
                      {{block, nullptr}, 2, 64, 64, 44100.0},
                      BufferRefusal::kMissingChannel},
        ReadinessCase{"HalvesSmallerThanRead",
                      {{block, block}, 2, 64, 128, 44100.0},
                      BufferRefusal::kSizeMismatch},
        ReadinessCase{"HalvesLargerThanRead",
                      {{block, block}, 2, 128, 64, 44100.0},
                      BufferRefusal::kSizeMismatch},
        ReadinessCase{"PcmBuffersAtDsdRate",
                      {{block, block}, 2, 3072, 3072, 2822400.0},
                      BufferRefusal::kSizeMismatch},
        ReadinessCase{"DsdBuffersAtPcmRate",
                      {{block, block}, 2, 96, 3072, 44100.0},
                      BufferRefusal::kSizeMismatch},
        ReadinessCase{
            "NothingToRead", {{block, block}, 2, 0, 16, 2822400.0}, BufferRefusal::kSizeMismatch}),
    [](const auto& info) { return std::string(info.param.name); });

class StreamReadinessTest : public testing::OpenDriverTest {
 protected:
  // What start refuses, told by the text it leaves. Past the buffer checks
  // start looks for the streamer, which no unit test names, and fails there.
  BufferRefusal refusal() {
    object().report(control::failed(""));
    EXPECT_EQ(driver->start(), asio::kAseNotPresent);
    char text[128];
    driver->getErrorMessage(text);
    if (std::strcmp(text, refusalText(BufferRefusal::kMissingChannel)) == 0) {
      return BufferRefusal::kMissingChannel;
    }
    if (std::strcmp(text, refusalText(BufferRefusal::kSizeMismatch)) == 0) {
      return BufferRefusal::kSizeMismatch;
    }
    return BufferRefusal::kNone;
  }

  int32_t offeredSize() {
    int32_t minSize, maxSize, preferred, granularity;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    return preferred;
  }

  asio::AsioCallbacks callbacks{testing::ignoreBufferSwitch, nullptr, nullptr, nullptr};
  asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
};

TEST_F(StreamReadinessTest, BuffersMadeAtTheOfferedSizeAreReadyAtPcmAndDsdRates) {
  for (double rate : {44100.0, 192000.0, 2822400.0, 11289600.0}) {
    SCOPED_TRACE(rate);
    driver->setSampleRate(rate);
    ASSERT_EQ(driver->createBuffers(infos, 2, offeredSize(), &callbacks), asio::kAseOk);
    EXPECT_EQ(refusal(), BufferRefusal::kNone);
    driver->disposeBuffers();
  }
}

TEST_F(StreamReadinessTest, ARateChangeAfterCreateBuffersIsCaught) {
  ASSERT_EQ(driver->createBuffers(infos, 2, offeredSize(), &callbacks), asio::kAseOk);
  driver->setSampleRate(96000.0);
  offeredSize();
  EXPECT_EQ(refusal(), BufferRefusal::kSizeMismatch);
}

TEST_F(StreamReadinessTest, OneChannelOrNoneIsRefused) {
  ASSERT_EQ(driver->createBuffers(nullptr, 0, offeredSize(), &callbacks), asio::kAseOk);
  EXPECT_EQ(refusal(), BufferRefusal::kMissingChannel);
  ASSERT_EQ(driver->createBuffers(infos, 1, offeredSize(), &callbacks), asio::kAseOk);
  EXPECT_EQ(refusal(), BufferRefusal::kMissingChannel);
}

}  // namespace
}  // namespace tavro::driver
