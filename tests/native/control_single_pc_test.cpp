// The settings that lead to 127.0.0.1 or to this PC's own address. These
// cases share port 48168 on one address, so they hold a lock while they run.
#include <gmock/gmock.h>

#include "control_fixture.h"

namespace tavro::testing {
namespace {

using ::testing::ElementsAre;

struct SinglePcCase {
  const char* name;
  const char* singlePc;  // null: the value is missing
  bool expectSinglePc;
};

// Test names already say which case ran; print only that.
void PrintTo(const SinglePcCase& c, std::ostream* out) { *out << c.name; }

class SinglePcTest : public ControlTest, public ::testing::WithParamInterface<SinglePcCase> {};

// A peer listens on 127.0.0.1 and another on the test's own address given as
// "Host"; which one the driver greets shows which setting won.
TEST_P(SinglePcTest, ChoosesTheLocalStreamerOnlyWhenTheSettingReadsAsOne) {
  const SinglePcCase& c = GetParam();
  if (c.singlePc != nullptr) setSetting(control::kSinglePcValue, c.singlePc);
  setSetting(control::kHostValue, address);
  sink::SinkOptions local;
  local.address = "127.0.0.1";
  sink::SinkPeer localPeer(local);
  std::string error;
  ASSERT_TRUE(localPeer.start(&error)) << error;
  startPeer();

  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue);
  EXPECT_EQ(localPeer.accepted(), c.expectSinglePc ? 1 : 0);
  EXPECT_EQ(peer->accepted(), c.expectSinglePc ? 0 : 1);
  closeControlConnection();
  localPeer.stop();
}

INSTANTIATE_TEST_SUITE_P(
    Table, SinglePcTest,
    ::testing::Values(SinglePcCase{"One", "1", true}, SinglePcCase{"OneAfterBlanks", "  \t1", true},
                      SinglePcCase{"OneThenText", "1 yes", true},
                      SinglePcCase{"PlusOne", "+1", true},
                      SinglePcCase{"TwoHundredFiftySeven", "257", true},
                      SinglePcCase{"Zero", "0", false}, SinglePcCase{"Empty", "", false},
                      SinglePcCase{"NoDigits", "yes", false}, SinglePcCase{"Two", "2", false},
                      SinglePcCase{"MinusOne", "-1", false},
                      SinglePcCase{"Missing", nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ASinglePcSettingStoredAsANumberDoesNotCount) {
  platform::RegKey key = 0;
  setSetting(control::kHostValue, address);
  ASSERT_EQ(
      platform::regOpenKey(currentUser(), control::kSettingsKey, platform::kKeySetValue, &key),
      platform::kRegOk);
  platform::regSetDword(key, control::kSinglePcValue, 1);
  platform::regCloseKey(key);
  startPeer();
  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue);
  EXPECT_EQ(peer->accepted(), 1) << "the streamer at the host's address";
}

TEST_F(ControlTest, AnEmptyHostBecomesThisPcsOwnAddressAndIsStored) {
  char name[256] = {}, own[256] = {};
  if (!platform::localHostName(name, sizeof name) ||
      !platform::firstIpv4Address(name, own, sizeof own)) {
    GTEST_SKIP() << "this machine's own name does not resolve";
  }
  setSetting(control::kHostValue, "");
  HostileOptions options;
  options.address = own;
  startPeer(options, false);

  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue);
  EXPECT_EQ(peer->accepted(), 1) << "the streamer at this PC's own address";
  EXPECT_EQ(setting(control::kHostValue), std::string(own));
  closeControlConnection();

  // The stored address is used from then on, without looking it up again.
  driver::Vantrel* second = static_cast<driver::Vantrel*>(createDriver());
  ASSERT_NE(second, nullptr);
  platform::resetCallCounts();
  EXPECT_EQ(second->init(nullptr), asio::kAsioTrue);
  EXPECT_EQ(platform::callCount(platform::Call::gethostbyname), 0u);
  second->Release();
}

}  // namespace
}  // namespace tavro::testing
