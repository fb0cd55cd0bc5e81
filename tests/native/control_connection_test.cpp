// init against a real tavro-sink over loopback: every way of failing to
// reach the streamer, and what the driver keeps when it succeeds.
#include <gmock/gmock.h>

#include <optional>
#include <vector>

#include "control/error_texts.h"
#include "control_fixture.h"
#include "platform/fault.h"

namespace tavro::testing {
namespace {

using platform::Call;
using sink::Step;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace errors = control::errors;

enum class HostSetting {
  kNoKey,        // "Software\TAVRO7" does not exist
  kMissing,      // the key exists, "Host" does not
  kTooLong,      // 300 characters
  kNumber,       // stored as a DWORD
  kName,         // "localhost": not a dotted address
  kEmpty,        // to be replaced by this PC's own address
  kPeer,         // the test's own loopback address
  kNobodyThere,  // a loopback address where nothing listens
};

struct InitFailure {
  const char* name;
  HostSetting host;
  Step step = Step::kGreeting;  // where the peer misbehaves
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::optional<std::string> reply = std::nullopt;
  std::optional<Call> fault = std::nullopt;
  platform::FaultPlan plan = {};
  const char* errorText = errors::kOpenFailure;  // init's own text: the step set none
  std::vector<uintptr_t> codes = {};
};

// Test names already say which case ran; print only that.
void PrintTo(const InitFailure& c, std::ostream* out) { *out << c.name; }

class InitFailureTest : public ControlTest, public ::testing::WithParamInterface<InitFailure> {
 protected:
  void arrange(const InitFailure& c) {
    switch (c.host) {
      case HostSetting::kNoKey:
        return;
      case HostSetting::kMissing:
        setSetting(control::kSinglePcValue, "0");
        return;
      case HostSetting::kTooLong:
        setSetting(control::kHostValue, std::string(300, '1'));
        return;
      case HostSetting::kNumber: {
        setSetting(control::kSinglePcValue, "0");
        platform::RegKey key = 0;
        ASSERT_EQ(platform::regOpenKey(currentUser(), control::kSettingsKey, platform::kKeySetValue,
                                       &key),
                  platform::kRegOk);
        platform::regSetDword(key, control::kHostValue, 0x7F000001);
        platform::regCloseKey(key);
        return;
      }
      case HostSetting::kName:
        setSetting(control::kHostValue, "localhost");
        return;
      case HostSetting::kEmpty: {
        char name[256] = {}, own[256] = {};
        if (!platform::localHostName(name, sizeof name) ||
            !platform::firstIpv4Address(name, own, sizeof own)) {
          GTEST_SKIP() << "this machine's own name does not resolve";
        }
        setSetting(control::kHostValue, "");
        return;
      }
      case HostSetting::kNobodyThere:
        setSetting(control::kHostValue, address);
        return;
      case HostSetting::kPeer: {
        setSetting(control::kHostValue, address);
        HostileOptions options;
        options.script[static_cast<size_t>(c.step)] = {c.misbehaviour, c.reply};
        startPeer(options);
        return;
      }
    }
  }
};

TEST_P(InitFailureTest, FailsWithTheStepsTextAndNotificationAndLeavesNothingOpen) {
  const InitFailure& c = GetParam();
  arrange(c);
  if (IsSkipped()) return;
  {
    std::optional<platform::ScopedFault> fault;
    if (c.fault) fault.emplace(*c.fault, c.plan);
    EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  }
  EXPECT_EQ(errorText(), c.errorText);
  EXPECT_EQ(spy.codes(), c.codes);
  EXPECT_FALSE(controlConnectionOpen());
}

const InitFailure kInitFailures[] = {
    {.name = "SettingsKeyMissing", .host = HostSetting::kNoKey},
    {.name = "HostMissing", .host = HostSetting::kMissing},
    {.name = "HostLongerThan254Characters", .host = HostSetting::kTooLong},
    {.name = "HostStoredAsNumber", .host = HostSetting::kNumber},
    {.name = "SettingsKeyCannotBeOpened", .host = HostSetting::kPeer, .fault = Call::RegOpenKeyExA},
    {.name = "HostCannotBeWrittenBack",
     .host = HostSetting::kEmpty,
     .fault = Call::RegSetValueExA,
     .errorText = errors::kHostNotSet},
    {.name = "OwnNameUnknown",
     .host = HostSetting::kEmpty,
     .fault = Call::gethostbyname,
     .plan = {.skip = 0, .times = 1}},
    {.name = "OwnAddressUnknown",
     .host = HostSetting::kEmpty,
     .fault = Call::gethostbyname,
     .plan = {.skip = 1, .times = 1}},
    {.name = "HostIsANameNotAnAddress",
     .host = HostSetting::kName,
     .errorText = errors::kCannotCreateSocket},
    {.name = "AddressLookupFails",
     .host = HostSetting::kPeer,
     .fault = Call::getaddrinfo,
     .errorText = errors::kCannotCreateSocket},
    {.name = "SocketCannotBeCreated",
     .host = HostSetting::kPeer,
     .fault = Call::socket,
     .errorText = errors::kCannotConnectStreamer,
     .codes = {20}},
    {.name = "NoStreamerListening",
     .host = HostSetting::kNobodyThere,
     .errorText = errors::kCannotConnectStreamer,
     .codes = {20}},
    {.name = "ConnectFails",
     .host = HostSetting::kPeer,
     .fault = Call::connect,
     .errorText = errors::kCannotConnectStreamer,
     .codes = {20}},
    {.name = "GreetingCannotBeSent",
     .host = HostSetting::kPeer,
     .fault = Call::send,
     .errorText = errors::kCannotSendToStreamer,
     .codes = {20}},
    {.name = "GreetingReplyShort",
     .host = HostSetting::kPeer,
     .misbehaviour = Misbehaviour::kShortFrame,
     .errorText = errors::kNoResponse},
    {.name = "GreetingUnanswered",
     .host = HostSetting::kPeer,
     .misbehaviour = Misbehaviour::kSilentThenClose,
     .errorText = errors::kNoResponse},
    {.name = "StreamerClosesAtGreeting",
     .host = HostSetting::kPeer,
     .misbehaviour = Misbehaviour::kClose,
     .errorText = errors::kNoResponse},
    {.name = "GreetingReceiveFails",
     .host = HostSetting::kPeer,
     .fault = Call::recv,
     .errorText = errors::kNoResponse},
    {.name = "GreetingReplyShorterThanThreeUnits",
     .host = HostSetting::kPeer,
     .reply = "OK",
     .errorText = errors::kNoResponse},
    {.name = "GreetingReplyEmpty",
     .host = HostSetting::kPeer,
     .reply = "",
     .errorText = errors::kNoResponse},
    {.name = "SettingsReplyShort",
     .host = HostSetting::kPeer,
     .step = Step::kSettings,
     .misbehaviour = Misbehaviour::kShortFrame,
     .codes = {30}},
    {.name = "SettingsReplyNotStartingWithS",
     .host = HostSetting::kPeer,
     .step = Step::kSettings,
     .misbehaviour = Misbehaviour::kWrongFirstUnit,
     .codes = {30}},
    {.name = "SettingsUnanswered",
     .host = HostSetting::kPeer,
     .step = Step::kSettings,
     .misbehaviour = Misbehaviour::kSilentThenClose,
     .codes = {30}},
    {.name = "StreamerClosesAtSettings",
     .host = HostSetting::kPeer,
     .step = Step::kSettings,
     .misbehaviour = Misbehaviour::kClose,
     .codes = {30}},
    {.name = "InterfaceReplyShort",
     .host = HostSetting::kPeer,
     .step = Step::kInterfaces,
     .misbehaviour = Misbehaviour::kShortFrame,
     .codes = {30}},
    {.name = "InterfaceReplyNotStartingWithS",
     .host = HostSetting::kPeer,
     .step = Step::kInterfaces,
     .misbehaviour = Misbehaviour::kWrongFirstUnit,
     .codes = {30}},
    {.name = "StreamerClosesAtInterfaces",
     .host = HostSetting::kPeer,
     .step = Step::kInterfaces,
     .misbehaviour = Misbehaviour::kClose,
     .codes = {30}},
};

INSTANTIATE_TEST_SUITE_P(Table, InitFailureTest, ::testing::ValuesIn(kInitFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, ConnectingReadsTheStreamersSettingsAndKeepsTheConnectionOpen) {
  setSetting(control::kSinglePcValue, "0");
  setSetting(control::kHostValue, address);
  HostileOptions options;
  options.bufferIndex = 3;
  options.transport = 2;
  options.wordLength = 16;
  options.shift = 4;
  options.driveMode = 1;
  options.interfaces = {"Speakers", "ASIO: Studio", "Headphones"};
  options.interfaceIndex = 1;
  startPeer(options);

  control::StreamerLink link;
  const control::Outcome connected = control::connectStreamer(controlConnection(), link);
  ASSERT_TRUE(connected.ok()) << connected.text;
  EXPECT_EQ(connected.notification, control::Notification::kNone);
  EXPECT_TRUE(controlConnectionOpen());
  EXPECT_EQ(link.hostName, address);
  EXPECT_EQ(link.portText, "48168");
  EXPECT_EQ(link.localAddressText, address);
  EXPECT_EQ(link.bufferSizeIndex, 3u);
  EXPECT_EQ(link.settings.transportMode, 2u);
  EXPECT_EQ(link.settings.interfaceIndex, 1u);
  EXPECT_EQ(link.settings.wordLength, 32u);  // the chosen interface is an ASIO one
  EXPECT_EQ(link.settings.sampleShift, 4u);
  EXPECT_EQ(link.settings.driveMode, 1u);
  EXPECT_EQ(link.settings.invertPolarity, 0u);
  EXPECT_THAT(link.settings.interfaces, ElementsAre(u"sSpeakers", u"ASIO: Studio", u"Headphones"));
  EXPECT_THAT(peer->received(), ElementsAre("TAVROHello", "sget*", "sgetAudioInterfaces"));
}

TEST_F(ControlTest, RepliesAreReadOnlyUpToTheirNulWhateverTheFrameHoldsAfterIt) {
  setSetting(control::kHostValue, address);
  HostileOptions options;
  options.dirtyTail = true;
  options.interfaces = {"One", "Two"};
  startPeer(options);

  control::StreamerLink link;
  ASSERT_TRUE(control::connectStreamer(controlConnection(), link).ok());
  EXPECT_EQ(link.localAddressText, address);
  EXPECT_THAT(link.settings.interfaces, ElementsAre(u"sOne", u"Two"));
}

TEST_F(ControlTest, AGreetingReplyOfThreeUnitsLeavesNoLocalAddress) {
  setSetting(control::kHostValue, address);
  HostileOptions options;
  options.script[0].reply = "OK ";
  startPeer(options);
  control::StreamerLink link;
  ASSERT_TRUE(control::connectStreamer(controlConnection(), link).ok());
  EXPECT_EQ(link.localAddressText, "");
}

TEST_F(ControlTest, AGreetingReplyWithoutNulIsReadToTheEndOfTheFrame) {
  setSetting(control::kHostValue, address);
  HostileOptions options;
  options.script[0].misbehaviour = Misbehaviour::kUnterminated;
  startPeer(options);
  control::StreamerLink link;
  ASSERT_TRUE(control::connectStreamer(controlConnection(), link).ok());
  EXPECT_EQ(link.localAddressText.size(), 512u - 3u);
}

TEST_F(ControlTest, AFailedInterfaceQueryKeepsTheSettingsAlreadyRead) {
  setSetting(control::kHostValue, address);
  HostileOptions options;
  options.bufferIndex = 2;
  options.transport = 2;
  options.script[static_cast<size_t>(Step::kInterfaces)].misbehaviour =
      Misbehaviour::kWrongFirstUnit;
  startPeer(options);
  control::StreamerLink link;
  EXPECT_FALSE(control::connectStreamer(controlConnection(), link).ok());
  EXPECT_EQ(link.bufferSizeIndex, 2u);
  EXPECT_EQ(link.settings.transportMode, 2u);
  EXPECT_THAT(link.settings.interfaces, IsEmpty());
}

TEST_F(ControlTest, ALaterInitTriesAgainAndSucceedsOnceTheStreamerListens) {
  setSetting(control::kHostValue, address);
  EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  EXPECT_THAT(spy.codes(), ElementsAre(20u));
  startPeer();
  EXPECT_EQ(driver->init(nullptr), asio::kAsioTrue);
}

// start reconnects this way after a stream: a new greeting, no settings query.
TEST_F(ControlTest, ReconnectingGreetsAgainWithoutAskingForSettings) {
  setSetting(control::kHostValue, address);
  startPeer();
  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue);
  closeControlConnection();
  ASSERT_TRUE(peer->waitForEnded(1, std::chrono::seconds(5)));

  control::StreamerLink link;
  link.hostName = address;
  link.portText = control::kStreamerPort;
  EXPECT_TRUE(control::openControlConnection(controlConnection(), link).ok());
  EXPECT_TRUE(controlConnectionOpen());
  closeControlConnection();
  ASSERT_TRUE(peer->waitForEnded(2, std::chrono::seconds(5)));
  EXPECT_THAT(peer->received(),
              ElementsAre("TAVROHello", "sget*", "sgetAudioInterfaces", "TAVROHello"));
}

struct OpenFailure {
  const char* name;
  bool listening;
  std::optional<Call> fault;
  asio::AsioError result;
  bool open;
};

// Test names already say which case ran; print only that.
void PrintTo(const OpenFailure& c, std::ostream* out) { *out << c.name; }

class OpenControlConnectionTest : public ControlTest,
                                  public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenControlConnectionTest, ReportsNotPresentAndClosesOnEveryFailure) {
  const OpenFailure& c = GetParam();
  if (c.listening) startPeer();
  control::StreamerLink link;
  link.hostName = address;
  link.portText = control::kStreamerPort;
  std::optional<platform::ScopedFault> fault;
  if (c.fault) fault.emplace(*c.fault);
  EXPECT_EQ(control::openControlConnection(controlConnection(), link).result, c.result);
  EXPECT_EQ(controlConnectionOpen(), c.open);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenControlConnectionTest,
    ::testing::Values(
        OpenFailure{"Connects", true, std::nullopt, asio::kAseOk, true},
        OpenFailure{"NoOptionsStillConnects", true, Call::setsockopt, asio::kAseOk, true},
        OpenFailure{"NoFastPathStillConnects", true, Call::WSAIoctl, asio::kAseOk, true},
        OpenFailure{"LookupFails", true, Call::getaddrinfo, asio::kAseNotPresent, false},
        OpenFailure{"NoSocket", true, Call::socket, asio::kAseNotPresent, false},
        OpenFailure{"NobodyListens", false, std::nullopt, asio::kAseNotPresent, false},
        OpenFailure{"GreetingUnsent", true, Call::send, asio::kAseNotPresent, false},
        OpenFailure{"ReplyLost", true, Call::recv, asio::kAseNotPresent, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlTest, SocketsCannotBeMadeWithoutANetworkReference) {
  // The driver object holds one reference; with it given back, socket
  // creation fails as it does under Winsock before WSAStartup.
  platform::netCleanup();
  setSetting(control::kHostValue, address);
  startPeer();
  EXPECT_EQ(driver->init(nullptr), asio::kAsioFalse);
  platform::netStartup();
  EXPECT_THAT(spy.codes(), IsEmpty());  // the lookup already fails
  EXPECT_EQ(errorText(), errors::kCannotCreateSocket);
}

}  // namespace
}  // namespace tavro::testing
