// The settings window's Test against a real tavro-sink peer: it asks what
// the driver's init asks, reports the driver's own failure text, and never
// keeps the connection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "control/error_texts.h"
#include "hostile/hostile_peer.h"
#include "settings/streamer_probe.h"
#include "support/loopback_address.h"

namespace tavro::settings {
namespace {

using sink::Step;

struct ProbeCase {
  const char* name;
  std::optional<Step> closeAt;  // nullopt: the peer behaves
  bool listening;
  const char* failureText;  // null: reached
};

class SettingsProbeTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(SettingsProbeTest, AsksAsInitDoesAndLetsGo) {
  const ProbeCase& c = GetParam();
  testing::HostileOptions options;
  options.address = testing::uniqueLoopbackAddress();
  options.bufferIndex = 3;
  options.transport = 2;
  options.interfaces = {"Speakers", "ASIO: Studio"};
  options.interfaceIndex = 1;
  if (c.closeAt) options.script[static_cast<size_t>(*c.closeAt)].misbehaviour = testing::Misbehaviour::kClose;
  std::unique_ptr<sink::SinkPeer> peer;
  if (c.listening) {
    peer = testing::makeHostilePeer(options);
    std::string error;
    ASSERT_TRUE(peer->start(&error)) << error;
  }

  const ProbeResult result = probeStreamer(options.address);
  EXPECT_EQ(result.reached, c.failureText == nullptr);
  if (c.failureText != nullptr) {
    EXPECT_EQ(result.failureText, c.failureText);
  } else {
    EXPECT_EQ(result.bufferIndex, 3u);
    EXPECT_EQ(result.settings.transportMode, 2u);
    EXPECT_EQ(result.settings.interfaceIndex, 1u);
    ASSERT_EQ(result.settings.interfaces.size(), 2u);
    EXPECT_EQ(result.settings.interfaces[0], u"Speakers") << "without the reply's mark";
    EXPECT_EQ(result.settings.interfaces[1], u"ASIO: Studio");
  }
  if (peer) {
    EXPECT_TRUE(peer->waitForEnded(1, std::chrono::seconds(5))) << "the probe kept the connection";
    if (c.failureText == nullptr) {
      EXPECT_THAT(peer->received(),
                  ::testing::ElementsAre("TAVROHello", "sget*", "sgetAudioInterfaces"))
          << "nothing beyond init's questions: no stream is announced";
    }
    peer->stop();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsProbeTest,
    ::testing::Values(
        ProbeCase{"Answers", std::nullopt, true, nullptr},
        ProbeCase{"NobodyListens", std::nullopt, false, control::errors::kCannotConnectStreamer},
        ProbeCase{"ClosesAtGreeting", Step::kGreeting, true, control::errors::kNoResponse},
        // The driver names no cause for the settings query: its host reads init's text.
        ProbeCase{"ClosesAtSettings", Step::kSettings, true, control::errors::kOpenFailure},
        ProbeCase{"ClosesAtInterfaces", Step::kInterfaces, true, control::errors::kOpenFailure}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::settings
