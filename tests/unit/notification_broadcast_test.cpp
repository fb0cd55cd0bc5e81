// The driver tells the control panel about failures through a broadcast
// window message. Other tests conclude "nothing was posted" from an empty
// spy, which only means something if a spy sees the broadcasts that are made.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "control/outcome.h"
#include "platform/desktop.h"
#include "support/notification_spy.h"

namespace tavro::testing {
namespace {

using ::testing::ElementsAre;

TEST(NotificationBroadcastTest, ASpySeesEachDriverCodeInOrderAndNoOtherMessage) {
  NotificationSpy spy;
  const uint32_t driverMessage = platform::registerWindowMessage(control::kNotificationMessageName);
  const uint32_t otherMessage = platform::registerWindowMessage("TAVROStreamerSomethingElse");
  ASSERT_NE(driverMessage, 0u);
  ASSERT_NE(otherMessage, driverMessage);

  platform::broadcastMessage(otherMessage, 7);
  platform::broadcastMessage(driverMessage, 20);
  platform::broadcastMessage(driverMessage, 30);

  EXPECT_THAT(spy.codes(), ElementsAre(20u, 30u));
  // Asking again neither loses nor repeats anything.
  EXPECT_THAT(spy.codes(), ElementsAre(20u, 30u));
}

TEST(NotificationBroadcastTest, EachSpySeesOnlyWhatWasPostedWhileItLived) {
  const uint32_t driverMessage = platform::registerWindowMessage(control::kNotificationMessageName);
  {
    NotificationSpy first;
    platform::broadcastMessage(driverMessage, 20);
    EXPECT_THAT(first.codes(), ElementsAre(20u));
  }
  NotificationSpy second;
  platform::broadcastMessage(driverMessage, 80);
  EXPECT_THAT(second.codes(), ElementsAre(80u));
}

}  // namespace
}  // namespace tavro::testing
