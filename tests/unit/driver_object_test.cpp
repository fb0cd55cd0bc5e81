// The driver object's own behaviour: defaults, texts, init's control panel
// launch and notifications, and what construction and destruction share with
// the rest of the process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "control/error_texts.h"
#include "driver/vantrel.h"
#include "platform/fault.h"
#include "platform/sync.h"
#include "support/driver_fixture.h"
#include "support/notification_spy.h"
#include "support/process_state.h"

namespace tavro::driver {
namespace {

using platform::Call;
using platform::ScopedFault;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DriverObjectTest : public testing::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    panelLog = scratch / "panel.log";
    testing::setEnv("TAVRO_FAKE_PANEL_LOG", panelLog.string());
    driver = testing::createDriver();
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (driver != nullptr) {
      EXPECT_EQ(driver->Release(), 0u);
    }
    testing::unsetEnv("TAVRO_FAKE_PANEL_LOG");
    DriverTest::TearDown();
  }

  Vantrel& object() { return *static_cast<Vantrel*>(driver); }

  // The panel runs on its own; give it a bounded time to write its line.
  std::vector<std::string> panelStarts(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto lines = testing::readLines(panelLog); !lines.empty()) return lines;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return testing::readLines(panelLog);
  }

  std::filesystem::path panelLog;
  asio::IAsio* driver = nullptr;
};

TEST_F(DriverObjectTest, FreshObjectReportsItsDefaults) {
  char name[32];
  std::memset(name, 0x7F, sizeof name);
  driver->getDriverName(name);
  EXPECT_STREQ(name, "TAVRODriver");
  EXPECT_EQ(name[12], 0x7F) << "exactly the name and its NUL are written";
  EXPECT_EQ(driver->getDriverVersion(), 96);

  char text[128];
  std::memset(text, 'x', sizeof text);
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "");

  double rate = 0.0;
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, 44100.0);
  int32_t input = 0, output = 0;
  driver->getLatencies(&input, &output);
  EXPECT_EQ(input, 64);
  EXPECT_EQ(output, 64);
  asio::AsioSamples position{7, 7};
  asio::AsioTimeStamp stamp{7, 7};
  driver->getSamplePosition(&position, &stamp);
  EXPECT_EQ(position.lo, 0u);
  EXPECT_EQ(stamp.lo, 7u) << "no stream, so no time stamp";
  EXPECT_EQ(driver->start(), asio::kAseNotPresent) << "no callbacks yet";
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "");
}

TEST_F(DriverObjectTest, ErrorTextIsCutToFitAndAlwaysTerminated) {
  const std::string longText(300, 'e');
  object().report(control::failed(longText.c_str()));
  char text[128];
  driver->getErrorMessage(text);
  EXPECT_EQ(std::strlen(text), 127u);
}

// The unit-test program links the driver statically, so the module lookup by
// file name finds nothing and the panel is looked for beside the program, as
// for a DLL loaded under another name. The fake panel was built there.
TEST_F(DriverObjectTest, InitStartsTheControlPanelQuietlyBesideTheModule) {
  ASSERT_TRUE(std::filesystem::exists(TAVRO_FAKE_PANEL_PATH));
  driver->init(nullptr);
  EXPECT_EQ(platform::callCount(Call::CreateProcessA), 1u);
  const auto starts = panelStarts(std::chrono::seconds(10));
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0], "quiet");
}

struct PanelCase {
  const char* name;
  bool mutexExists;
  Call failingCall;  // Call::Count for none
  bool expectLaunch;
};

class ControlPanelLaunchTest : public DriverObjectTest,
                               public ::testing::WithParamInterface<PanelCase> {};

TEST_P(ControlPanelLaunchTest, StartsThePanelOnlyWhenItShould) {
  const PanelCase& c = GetParam();
  platform::KernelHandle mutex =
      c.mutexExists ? platform::createMutex("TAVROStreamer Control Panel") : nullptr;
  {
    std::optional<ScopedFault> fault;
    if (c.failingCall != Call::Count) fault.emplace(c.failingCall);
    platform::resetCallCounts();
    EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  }
  platform::closeHandle(mutex);
  EXPECT_EQ(platform::callCount(Call::CreateProcessA), c.expectLaunch ? 1u : 0u);
  // Whether or not the panel starts, init goes on to connect.
  char text[128];
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, control::errors::kOpenFailure);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControlPanelLaunchTest,
    ::testing::Values(PanelCase{"PanelNotRunning", false, Call::Count, true},
                      PanelCase{"PanelRunning", true, Call::Count, false},
                      PanelCase{"MutexTestFails", false, Call::OpenMutexA, true},
                      PanelCase{"OwnPathUnknown", false, Call::GetModuleFileNameA, false},
                      PanelCase{"PanelWillNotStart", false, Call::CreateProcessA, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The host's "ASIO settings" button: the panel's window, or no panel at all.
struct OpenPanelCase {
  const char* name;
  Call failingCall;  // Call::Count for none
  asio::AsioError result;
};

class ControlPanelButtonTest : public DriverObjectTest,
                               public ::testing::WithParamInterface<OpenPanelCase> {};

TEST_P(ControlPanelButtonTest, OpensThePanelWindowOrSaysThereIsNone) {
  const OpenPanelCase& c = GetParam();
  {
    std::optional<ScopedFault> fault;
    if (c.failingCall != Call::Count) fault.emplace(c.failingCall);
    EXPECT_EQ(driver->controlPanel(), c.result);
  }
  // Never the quiet start: the user asked for the window.
  if (c.result == asio::kAseOk) {
    EXPECT_THAT(panelStarts(std::chrono::seconds(10)), ElementsAre("settings"));
  }
  EXPECT_EQ(driver->outputReady(), asio::kAseNotPresent) << "the two slots are not one";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControlPanelButtonTest,
    ::testing::Values(OpenPanelCase{"PanelBesideTheModule", Call::Count, asio::kAseOk},
                      OpenPanelCase{"PanelMissing", Call::CreateProcessA, asio::kAseNotPresent},
                      OpenPanelCase{"OwnPathUnknown", Call::GetModuleFileNameA,
                                    asio::kAseNotPresent}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverObjectTest, FailedInitWithoutSettingsReportsOpenFailureAndPostsNothing) {
  testing::NotificationSpy spy;
  platform::resetCallCounts();
  EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  char text[128];
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "TAVROdriver open failure!");
  EXPECT_EQ(platform::callCount(Call::RegisterWindowMessageA), 1u);
  EXPECT_THAT(spy.codes(), IsEmpty());

  // Nothing is remembered from a failed init: the next one tries again.
  platform::resetCallCounts();
  EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  EXPECT_EQ(platform::callCount(Call::RegisterWindowMessageA), 1u);
}

// Every object takes one Winsock reference and gives it back when it goes, so
// destroying one driver never pulls sockets from under another that lives on.
TEST_F(DriverObjectTest, WinsockReferencesFollowTheObjectsThatTookThem) {
  platform::resetCallCounts();
  asio::IAsio* second = testing::createDriver();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(platform::callCount(Call::WSAStartup), 1u);
  EXPECT_EQ(platform::callCount(Call::WSACleanup), 0u);
  second->Release();
  EXPECT_EQ(platform::callCount(Call::WSACleanup), 1u);
}

// A stop with no stream to end touches nothing: no priority, no thread, no
// socket, no datagram.
TEST_F(DriverObjectTest, StopWithoutAStreamChangesNothing) {
  platform::resetCallCounts();
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  for (const Call call : {Call::SetPriorityClass, Call::SetThreadAffinityMask,
                          Call::WaitForSingleObject, Call::CloseHandle, Call::Sleep,
                          Call::PostMessageA, Call::sendto, Call::shutdown, Call::closesocket}) {
    EXPECT_EQ(platform::callCount(call), 0u) << static_cast<int>(call);
  }
}

}  // namespace
}  // namespace tavro::driver
