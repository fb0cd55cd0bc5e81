#pragma once
// A driver, a registry of its own, a notification spy and, when a case asks
// for one, a tavro-sink peer (misbehaving as the case says) on a loopback
// address of the test's own.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "control/control_connection.h"
#include "control/streamer_host.h"
#include "hostile/hostile_peer.h"
#include "platform/registry.h"
#include "support/loopback_address.h"
#include "support/notification_spy.h"
#include "support/open_driver.h"
#include "support/registry_sandbox.h"

namespace tavro::testing {

class ControlTest : public OpenDriverTest {
 protected:
  void TearDown() override {
    if (peer) peer->stop();
    peer.reset();
    OpenDriverTest::TearDown();
  }

  static platform::RegKey currentUser() {
    return platform::registryRoot(platform::RegRoot::kCurrentUser);
  }
  static void setSetting(const char* name, const std::string& value) {
    ASSERT_TRUE(writeRegistryString(currentUser(), control::kSettingsKey, name, value));
  }
  static std::optional<std::string> setting(const char* name) {
    return readRegistryString(currentUser(), control::kSettingsKey, name);
  }

  // Listens at `options.address`, or at the test's own address when empty.
  sink::SinkPeer& startPeer(HostileOptions options = {}, bool ownAddress = true) {
    if (ownAddress) options.address = address;
    peer = makeHostilePeer(options);
    std::string error;
    EXPECT_TRUE(peer->start(&error)) << error;
    return *peer;
  }

  std::string errorText() {
    char text[128] = {};
    driver->getErrorMessage(text);
    return text;
  }

  const std::string address = uniqueLoopbackAddress();
  NotificationSpy spy;
  std::unique_ptr<sink::SinkPeer> peer;
};

}  // namespace tavro::testing
