// The Windows driver against the native tavro-sink: init reads the real
// registry, connects through Winsock and reads the streamer's settings.
// run_with_sink.sh starts the sink and names its address in TAVRO_SINK_ADDRESS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "control/control_connection.h"
#include "control/format_announcement.h"
#include "control/streamer_host.h"
#include "platform/registry.h"
#include "support/driver_fixture.h"
#include "support/process_state.h"
#include "support/registry_sandbox.h"

namespace tavro::testing {
namespace {

using ::testing::ElementsAre;

class WindowsControlTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    const char* address = std::getenv("TAVRO_SINK_ADDRESS");
    ASSERT_NE(address, nullptr) << "run through run_with_sink.sh";
    sinkAddress = address;
    // This test runs in a Wine prefix of its own, so the user's settings key is its to use.
    const platform::RegKey user = platform::registryRoot(platform::RegRoot::kCurrentUser);
    ASSERT_TRUE(writeRegistryString(user, control::kSettingsKey, control::kSinglePcValue, "0"));
    ASSERT_TRUE(writeRegistryString(user, control::kSettingsKey, control::kHostValue, sinkAddress));
    driver = createDriver();
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (driver != nullptr) driver->Release();
    deleteRegistryTree(platform::registryRoot(platform::RegRoot::kCurrentUser),
                       control::kSettingsKey);
    DriverTest::TearDown();
  }

  std::string sinkAddress;
  asio::IAsio* driver = nullptr;
};

// Through init's own step, into a link of the test's own; the driver object
// holds the process's Winsock reference.
TEST_F(WindowsControlTest, ConnectingReachesTheSinkNamedInTheRegistryAndReadsItsSettings) {
  control::StreamerLink link;
  ASSERT_TRUE(control::connectStreamer(controlConnection(), link).ok());
  EXPECT_EQ(link.hostName, sinkAddress);
  EXPECT_EQ(link.localAddressText, sinkAddress);
  // As run_with_sink.sh starts the sink.
  EXPECT_EQ(link.bufferSizeIndex, 3u);
  EXPECT_EQ(link.settings.transportMode, 2u);
  EXPECT_EQ(link.settings.wordLength, 32u);
  EXPECT_EQ(link.settings.interfaceIndex, 1u);
  EXPECT_THAT(link.settings.interfaces, ElementsAre(u"sSpeakers", u"ASIO: Studio"));

  EXPECT_TRUE(control::announceFormat(controlConnection(), {44100, 24, 1024, 6144}).ok());
  EXPECT_TRUE(controlConnectionOpen());
}

}  // namespace
}  // namespace tavro::testing
