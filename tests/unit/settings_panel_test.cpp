// The settings program's logic without its window: which values may be
// stored, how they land in the registry (read back by the driver's own
// reader), and the sentences its status shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "control/outcome.h"
#include "control/streamer_host.h"
#include "settings/panel_store.h"
#include "settings/panel_values.h"
#include "settings/status_sentences.h"
#include "settings/streamer_probe.h"
#include "support/registry_sandbox.h"

namespace tavro::settings {
namespace {

struct StorableCase {
  const char* name;
  std::function<void(PanelValues&)> change;
  bool storable;
};

class PanelValuesTest : public ::testing::TestWithParam<StorableCase> {};

TEST_P(PanelValuesTest, OnlyWhatTheDriverAndTheStreamerCanUseIsStorable) {
  PanelValues values;
  GetParam().change(values);
  EXPECT_EQ(whyNotStorable(values) == nullptr, GetParam().storable);
}

PanelValues otherPc(const char* host) {
  PanelValues values;
  values.singlePc = false;
  values.host = host;
  return values;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PanelValuesTest,
    ::testing::Values(
        StorableCase{"Defaults", [](PanelValues&) {}, true},
        StorableCase{"Address", [](PanelValues& v) { v = otherPc("192.168.1.20"); }, true},
        StorableCase{"AddressWithSpaces", [](PanelValues& v) { v = otherPc(" 10.0.0.255 "); },
                     true},
        StorableCase{"NoAddress", [](PanelValues& v) { v = otherPc("  "); }, false},
        StorableCase{"Name", [](PanelValues& v) { v = otherPc("streamer.local"); }, false},
        StorableCase{"ThreeParts", [](PanelValues& v) { v = otherPc("192.168.1"); }, false},
        StorableCase{"FiveParts", [](PanelValues& v) { v = otherPc("1.2.3.4.5"); }, false},
        StorableCase{"PartAbove255", [](PanelValues& v) { v = otherPc("192.168.1.256"); }, false},
        StorableCase{"OctalLooking", [](PanelValues& v) { v = otherPc("192.168.01.2"); }, false},
        StorableCase{"TrailingDot", [](PanelValues& v) { v = otherPc("1.2.3.4."); }, false},
        // An address typed and then left for "this PC" does not matter.
        StorableCase{"BadAddressUnused", [](PanelValues& v) { v.host = "nonsense"; }, true},
        StorableCase{"BadLocalUnused",
                     [](PanelValues& v) {
                       v = otherPc("1.2.3.4");
                       v.local.bufferPackets = 99;
                     },
                     true},
        StorableCase{"Transport3", [](PanelValues& v) { v.local.transport = 3; }, false},
        StorableCase{"Word20", [](PanelValues& v) { v.local.wordLength = 20; }, false},
        StorableCase{"Index10", [](PanelValues& v) { v.local.bufferIndex = 10; }, false},
        StorableCase{"Packets1", [](PanelValues& v) { v.local.bufferPackets = 1; }, false},
        StorableCase{"Packets32", [](PanelValues& v) { v.local.bufferPackets = 32; }, true},
        StorableCase{"Packets33", [](PanelValues& v) { v.local.bufferPackets = 33; }, false},
        StorableCase{"DsdNative", [](PanelValues& v) { v.local.dsdMode = "native"; }, true},
        StorableCase{"DsdUnknown", [](PanelValues& v) { v.local.dsdMode = "DoP"; }, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Under Wine the registry is the prefix's real one, shared with the other
// tests of the session: only the native store can be given to one test.
class PanelStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "writes the user's own settings; the Wine window test covers Windows";
#endif
  }
  testing::RegistrySandbox sandbox;
};

TEST_F(PanelStoreTest, WhatIsStoredIsWhatTheDriverReadsAndWhatTheWindowShowsAgain) {
  EXPECT_EQ(loadPanelValues(), PanelValues{}) << "nothing stored: the defaults";

  ASSERT_EQ(storePanelValues(otherPc(" 192.168.1.20 "), "C:\\TAVRO\\tavro-sink.exe"), nullptr);
  control::StreamerAddress address = control::readStreamerAddress();
  EXPECT_TRUE(address.found);
  EXPECT_STREQ(address.host, "192.168.1.20");
  EXPECT_FALSE(testing::registryKeyExists(
      platform::registryRoot(platform::RegRoot::kCurrentUser), kStreamerKey))
      << "the local streamer's values are written only when it is the choice";

  PanelValues local;
  local.local = {"ASIO: My DAC", 2, 32, 3, 16, "native"};
  local.startAtLogon = true;
  ASSERT_EQ(storePanelValues(local, "C:\\TAVRO\\tavro-sink.exe"), nullptr);
  address = control::readStreamerAddress();
  EXPECT_STREQ(address.host, "127.0.0.1");
  PanelValues loaded = loadPanelValues();
  EXPECT_EQ(loaded.local, local.local);
  EXPECT_TRUE(loaded.startAtLogon);
  EXPECT_EQ(loaded.host, "192.168.1.20") << "the other computer's address is kept for later";
  EXPECT_EQ(testing::readRegistryString(platform::registryRoot(platform::RegRoot::kCurrentUser),
                                        kRunKey, kRunValue),
            "\"C:\\TAVRO\\tavro-sink.exe\"");

  local.startAtLogon = false;
  ASSERT_EQ(storePanelValues(local, "C:\\TAVRO\\tavro-sink.exe"), nullptr);
  EXPECT_FALSE(loadPanelValues().startAtLogon);
  EXPECT_EQ(testing::readRegistryString(platform::registryRoot(platform::RegRoot::kCurrentUser),
                                        kRunKey, kRunValue),
            std::nullopt);
  EXPECT_EQ(storePanelValues(local, "C:\\TAVRO\\tavro-sink.exe"), nullptr)
      << "no logon entry to remove is no failure";
}

TEST(StatusSentencesTest, EveryCodeOfTheDriversTableHasASentenceOfItsOwn) {
  using control::Notification;
  const std::string unknown = sentenceFor(12345);
  std::set<std::string> seen;
  for (Notification code :
       {Notification::kStreamerRefused1, Notification::kStreamerRefused2,
        Notification::kStreamerRefused3, Notification::kNoRemovableDrive,
        Notification::kConnectFailed, Notification::kSetupFailed,
        Notification::kRequestQueueFailed}) {
    const std::string sentence = sentenceFor(static_cast<uint32_t>(code));
    EXPECT_NE(sentence, unknown) << static_cast<uint32_t>(code);
    EXPECT_TRUE(seen.insert(sentence).second) << sentence;
  }
  EXPECT_THAT(unknown, ::testing::HasSubstr("12345"));
  EXPECT_EQ(statusLine(20, 9, 5, 7).substr(0, 10), "09:05:07  ");
}

TEST(ProbeDescriptionTest, ShowsTheStreamersSettingsWithTheChosenInterfaceMarked) {
  ProbeResult result;
  result.reached = true;
  result.bufferIndex = 3;
  result.settings.transportMode = 2;
  result.settings.wordLength = 24;
  result.settings.interfaces = {u"Speakers", u"ASIO: Studio"};
  result.settings.interfaceIndex = 1;
  const std::u16string text = describeProbe("127.0.0.1", result);
  EXPECT_NE(text.find(u"Transport: UDP"), std::u16string::npos);
  EXPECT_NE(text.find(u"Buffer: 192 frames (4.4 ms at 44.1 kHz)"), std::u16string::npos);
  EXPECT_NE(text.find(u"\u25B6 ASIO: Studio  (chosen)"), std::u16string::npos);
  EXPECT_EQ(text.find(u"Speakers  (chosen)"), std::u16string::npos);

  ProbeResult failed;
  failed.failureText = "Unable to connect to TAVROStreamer: Is server running?";
  EXPECT_EQ(describeProbe("10.1.2.3", failed),
            u"10.1.2.3: Unable to connect to TAVROStreamer: Is server running?");
}

}  // namespace
}  // namespace tavro::settings
