// The opt-in log: with TAVRODriver.log in the user's profile folder a stream
// leaves one line per lifecycle event in it; without the file the driver
// writes no file at all.
#include "platform/log.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <string>

#include "control/error_texts.h"
#include "stream_fixture.h"

namespace tavro::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

class DriverLogTest : public StreamTest {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) savedHome_ = home;
    setEnv("HOME", profile_.path().string());
    StreamTest::SetUp();
  }
  void TearDown() override {
    StreamTest::TearDown();
    if (savedHome_) {
      setEnv("HOME", *savedHome_);
    } else {
      unsetEnv("HOME");
    }
    platform::log::refresh();
  }

  std::filesystem::path logFile() const { return profile_ / platform::log::kFileName; }
  void createLog() { std::ofstream(logFile()).flush(); }
  std::string logText() const {
    std::ifstream in(logFile());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir profile_;
  std::optional<std::string> savedHome_;
};

TEST_F(DriverLogTest, AStreamIsLoggedOnlyWhenTheFileExists) {
  for (const bool fileExists : {false, true}) {
    SCOPED_TRACE(fileExists ? "with the file" : "without the file");
    if (fileExists) createLog();
    platform::resetCallCounts();
    initAgainst(sinkOptions(24, 0, 3));
    const play::PlayResult result = playSignal(48000, 12);
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_GT(report(1).packets, 0u);
    if (!fileExists) {
      EXPECT_FALSE(std::filesystem::exists(logFile()));
      EXPECT_EQ(platform::callCount(platform::Call::AppendToFile), 0u);
      // The next init finds the file the user creates meanwhile.
      driver->Release();
      driver = createDriver();
      peer->stop();
      peer.reset();
      continue;
    }
    const std::string text = logText();
    // Each event once, in the order it happened.
    const char* const events[] = {
        "init: connecting to the streamer",
        "settings: transport 1, word length 24, shift 0",
        "init: connected to ",
        "announcement: rate 48000",
        "announcement reply: \"+OK\"",
        "start: rate 48000 Hz",
        "stop: the host stops; packets ",
    };
    size_t at = 0;
    for (const char* event : events) {
      const size_t found = text.find(event, at);
      EXPECT_NE(found, std::string::npos) << "'" << event << "' missing or out of order in:\n"
                                          << text;
      if (found != std::string::npos) at = found;
    }
    // The streaming thread's counts, written once at stop.
    std::smatch counts;
    const std::regex countsLine("packets ([0-9]+), ticks ([0-9]+), ignored ticks ([0-9]+)");
    ASSERT_TRUE(std::regex_search(text, counts, countsLine)) << text;
    // The host's stop may come while its last half is on its way out.
    EXPECT_GE(std::stoul(counts[1]) + 1, static_cast<unsigned long>(result.halves));
    EXPECT_GE(std::stoul(counts[2]) + 2, static_cast<unsigned long>(result.halves));
    // A tick may meet the host's stop; none of those played is ignored.
    EXPECT_LE(std::stoul(counts[3]), 1u);
    EXPECT_EQ(platform::callCount(platform::Call::AppendToFile),
              static_cast<uint32_t>(std::count(text.begin(), text.end(), '\n')));
  }
}

TEST_F(DriverLogTest, ARefusalIsLoggedWithItsErrorTextAndNotificationCode) {
  createLog();
  HostileOptions options = sinkOptions(24, 0, 3);
  options.refuse = 2;
  initAgainst(options);
  const play::PlayResult result = playSignal(48000, 4);
  EXPECT_FALSE(result.started);
  const std::string text = logText();
  EXPECT_THAT(text, HasSubstr("announcement reply: \"ERROR 2\""));
  EXPECT_THAT(text,
              HasSubstr("notification 2, error text: " + std::string(control::errors::kNoResponse)));
}

TEST_F(DriverLogTest, AFailedInitIsLoggedWithItsText) {
  createLog();
  // No streamer listens at the test's address.
  setSetting(control::kSinglePcValue, "0");
  setSetting(control::kHostValue, address);
  EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  EXPECT_THAT(logText(), ContainsRegex("notification 20, error text: Unable to connect"));
  EXPECT_THAT(logText(), HasSubstr("init: failed: "));
}

}  // namespace
}  // namespace tavro::testing
