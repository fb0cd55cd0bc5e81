// Every way opening the data socket can fail, every way a packet can fail,
// and what each gives to report (text, notification) and leaves open.
#include <gmock/gmock.h>

#include <thread>

#include "control/error_texts.h"
#include "transport_fixture.h"

namespace tavro::testing {
namespace {

using platform::Call;
using platform::FaultPlan;
using N = control::Notification;
namespace errors = control::errors;

constexpr uint32_t kPacketBytes = 98304;
constexpr uint32_t kDatagramSize = 49152;

struct OpenCase {
  const char* name;
  bool registeredIo;  // the version allows Registered I/O
  Call call;
  FaultPlan plan;
  asio::AsioError result;
  const char* text;  // null: the host's text stays as it was
  N notification;
  bool dataOpen;  // afterwards
  uint32_t socketsClosed;
  uint32_t queuesClosed;
  uint32_t deregistered;
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class OpenFailureTest : public TransportTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenFailureTest, ReportsAndReleasesAsTheStepRequires) {
  const OpenCase& c = GetParam();
  if (c.registeredIo) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  chooseVersion(6, c.registeredIo ? 2 : 1);
  layout(kPacketBytes, kDatagramSize, control::kTransportUdp);
  if (HasFatalFailure()) return;
  platform::resetCallCounts();
  {
    platform::ScopedFault fault(c.call, c.plan);
    const control::Outcome outcome = openData();
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_STREQ(outcome.text, c.text);
    EXPECT_EQ(outcome.notification, c.notification);
  }
  EXPECT_EQ(dataSocketOpen(), c.dataOpen);
  EXPECT_EQ(platform::callCount(Call::closesocket), c.socketsClosed);
  EXPECT_EQ(platform::callCount(Call::RIOCloseCompletionQueue), c.queuesClosed);
  EXPECT_EQ(platform::callCount(Call::RIODeregisterBuffer), c.deregistered);
  // Every event made was closed, too.
  const uint32_t eventsMade =
      platform::callCount(Call::CreateEventA) - (c.call == Call::CreateEventA ? 1u : 0u);
  EXPECT_EQ(platform::callCount(Call::CloseHandle), eventsMade);
  if (c.result == asio::kAseOk) {
    // Registered I/O could not be had: the stream goes over plain UDP.
    EXPECT_FALSE(usesRegisteredIo());
    EXPECT_EQ(platform::callCount(Call::bind), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OpenFailureTest,
                         ::testing::Values(OpenCase{"PlainSocket",
                                                    false,
                                                    Call::WSASocketA,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    nullptr,
                                                    N::kConnectFailed,
                                                    false,
                                                    0,
                                                    0,
                                                    0},
                                           OpenCase{"PlainBind",
                                                    false,
                                                    Call::bind,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kConnectFailed,
                                                    false,
                                                    1,
                                                    0,
                                                    0},
                                           OpenCase{"RioSocket",
                                                    true,
                                                    Call::WSASocketA,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    nullptr,
                                                    N::kConnectFailed,
                                                    false,
                                                    0,
                                                    0,
                                                    0},
                                           OpenCase{"RioNoFunctionTable",
                                                    true,
                                                    Call::WSAIoctl,
                                                    {},
                                                    asio::kAseOk,
                                                    nullptr,
                                                    N::kNone,
                                                    true,
                                                    1,
                                                    0,
                                                    0},
                                           OpenCase{"RioBufferNotRegistered",
                                                    true,
                                                    Call::RIORegisterBuffer,
                                                    {},
                                                    asio::kAseOk,
                                                    nullptr,
                                                    N::kNone,
                                                    true,
                                                    1,
                                                    0,
                                                    0},
                                           OpenCase{"RioSendQueue",
                                                    true,
                                                    Call::RIOCreateCompletionQueue,
                                                    {.times = 1},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kConnectFailed,
                                                    false,
                                                    1,
                                                    1,
                                                    1},
                                           OpenCase{"RioReceiveQueue",
                                                    true,
                                                    Call::RIOCreateCompletionQueue,
                                                    {.skip = 1},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kConnectFailed,
                                                    false,
                                                    1,
                                                    1,
                                                    1},
                                           OpenCase{"RioEvent",
                                                    true,
                                                    Call::CreateEventA,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kConnectFailed,
                                                    false,
                                                    1,
                                                    1,
                                                    1},
                                           OpenCase{"RioRequestQueue",
                                                    true,
                                                    Call::RIOCreateRequestQueue,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kRequestQueueFailed,
                                                    false,
                                                    1,
                                                    2,
                                                    1},
                                           OpenCase{"RioLookup",
                                                    true,
                                                    Call::getaddrinfo,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotCreateSocket,
                                                    N::kNone,
                                                    false,
                                                    1,
                                                    2,
                                                    1},
                                           OpenCase{"RioConnect",
                                                    true,
                                                    Call::connect,
                                                    {},
                                                    asio::kAseNotPresent,
                                                    errors::kCannotConnectData,
                                                    N::kConnectFailed,
                                                    false,
                                                    1,
                                                    2,
                                                    1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Which Windows version gets Registered I/O: 6.2 and 6.3 only.
struct VersionCase {
  const char* name;
  uint32_t major;
  uint32_t minor;
  bool registeredIo;
};

class VersionChoiceTest : public TransportTest,
                          public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionChoiceTest, OnlyWindows8And81UseRegisteredIo) {
  const VersionCase& c = GetParam();
  if (c.registeredIo) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  chooseVersion(c.major, c.minor);
  layout(kPacketBytes, kDatagramSize, control::kTransportUdp);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(openData().ok());
  EXPECT_EQ(usesRegisteredIo(), c.registeredIo);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionChoiceTest,
                         ::testing::Values(VersionCase{"Vista", 6, 0, false},
                                           VersionCase{"Windows7", 6, 1, false},
                                           VersionCase{"Windows8", 6, 2, true},
                                           VersionCase{"Windows81", 6, 3, true},
                                           VersionCase{"Windows10", 10, 0, false},
                                           VersionCase{"CallFails", 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream set up as start leaves it, up to the first packets.
class StreamingTest : public TransportTest {
 protected:
  void open(Transport transport) {
    chooseVersion(6, transport == Transport::kRio ? 2 : 1);
    layout(kPacketBytes, kDatagramSize,
           transport == Transport::kTcp ? control::kTransportTcp : control::kTransportUdp);
    if (HasFatalFailure()) return;
    connectControl();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(openData().ok());
    dataTransport->prime();
  }
  bool send() { return dataTransport->sendPacket(); }
};

struct SendCase {
  const char* name;
  Transport transport;
  int packetsFirst;  // sent before the fault
  Call call;
  FaultPlan plan;
  bool dataOpen;  // afterwards
};

void PrintTo(const SendCase& c, std::ostream* out) { *out << c.name; }

class SendFailureTest : public StreamingTest, public ::testing::WithParamInterface<SendCase> {};

// The transport only says so: closing the control connection is the
// stream's end, which the streaming thread hands to the stream's owner.
TEST_P(SendFailureTest, FailsAtOnceAndLeavesTheConnectionToTheStreamsEnd) {
  const SendCase& c = GetParam();
  if (c.transport == Transport::kRio) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  open(c.transport);
  if (HasFatalFailure()) return;
  for (int i = 0; i < c.packetsFirst; ++i) ASSERT_TRUE(send());
  {
    platform::ScopedFault fault(c.call, c.plan);
    EXPECT_FALSE(send());
  }
  EXPECT_TRUE(controlConnectionOpen());
  EXPECT_EQ(dataSocketOpen(), c.dataOpen);
  if (c.transport == Transport::kRio) {
    // Nothing more goes out, the next tick wait reports the end at once, and
    // stop has nothing to send on the failed queue.
    EXPECT_FALSE(send());
    uint8_t buffer[stream::kTickReceiveBytes];
    const uint32_t waits = platform::callCount(Call::WaitForSingleObject);
    EXPECT_EQ(dataTransport->receiveTick(buffer), 0);
    EXPECT_EQ(platform::callCount(Call::WaitForSingleObject), waits);
    const uint32_t sends = platform::callCount(Call::RIOSend);
    dataTransport->sendStopSignal();
    EXPECT_EQ(platform::callCount(Call::RIOSend), sends);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendFailureTest,
    ::testing::Values(
        SendCase{"TcpSend", Transport::kTcp, 1, Call::send, {}, false},
        SendCase{"PlainSendto", Transport::kPlainUdp, 1, Call::sendto, {}, true},
        SendCase{"RioFirstPacketSend", Transport::kRio, 0, Call::RIOSend, {.skip = 1}, true},
        SendCase{"RioLaterPacketSend", Transport::kRio, 1, Call::RIOSend, {}, true},
        SendCase{"RioCorruptQueue", Transport::kRio, 1, Call::RIODequeueCompletion, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StreamingTest, ALaterPacketWaitingOnItsCompletionsGivesUpWhenStopBegins) {
  TAVRO_SKIP_WITHOUT_RIO();
  open(Transport::kRio);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(send());
  // Completions never come: the poll would spin for ever.
  platform::ScopedFault empty(Call::RIODequeueCompletion, {.value = 1});
  bool sent = true;
  std::thread streaming([&] { sent = send(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  dataTransport->wake();
  streaming.join();
  EXPECT_FALSE(sent);
  // Giving up for stop is no failure of the connection.
  EXPECT_TRUE(controlConnectionOpen());
}

// A streaming thread blocked in its receive is woken without anything being
// released under it; its next receive returns at once.
class WakeTest : public StreamingTest, public ::testing::WithParamInterface<Transport> {};

TEST_P(WakeTest, WakesABlockedTickReceive) {
  if (GetParam() == Transport::kRio) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  open(GetParam());
  if (HasFatalFailure()) return;
  int32_t received = 1;
  std::thread streaming([&] {
    uint8_t buffer[stream::kTickReceiveBytes];
    received = dataTransport->receiveTick(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const uint32_t closes = platform::callCount(Call::closesocket);
  dataTransport->wake();
  streaming.join();
  EXPECT_LE(received, 0);
  EXPECT_EQ(platform::callCount(Call::closesocket), closes);
  EXPECT_TRUE(dataSocketOpen());
  uint8_t buffer[stream::kTickReceiveBytes];
  EXPECT_LE(dataTransport->receiveTick(buffer), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, WakeTest, ::testing::Values(Transport::kPlainUdp, Transport::kRio),
                         [](const auto& info) { return std::string(transportName(info.param)); });

TEST_F(StreamingTest, ATickWaitWithRegisteredIoEndsAfterOneSecondWithoutATick) {
  TAVRO_SKIP_WITHOUT_RIO();
  open(Transport::kRio);
  if (HasFatalFailure()) return;
  uint8_t buffer[stream::kTickReceiveBytes];
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(dataTransport->receiveTick(buffer), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
  {
    platform::ScopedFault failed(Call::WaitForSingleObject);
    EXPECT_EQ(dataTransport->receiveTick(buffer), 0);
  }
}

// Releasing, once the thread has ended, closes everything once: the socket
// before the queues and the registration of the buffer it may still use.
class LifecycleTest : public StreamingTest, public ::testing::WithParamInterface<Transport> {};

TEST_P(LifecycleTest, ClosesEverythingExactlyOnce) {
  if (GetParam() == Transport::kRio) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  open(GetParam());
  if (HasFatalFailure()) return;
  const uint32_t queues = GetParam() == Transport::kRio ? 2 : 0;
  const uint32_t registrations = GetParam() == Transport::kRio ? 1 : 0;
  platform::resetCallCounts();
  dataTransport.reset();
  EXPECT_FALSE(dataSocketOpen());
  EXPECT_EQ(platform::callCount(Call::shutdown), 1u);
  EXPECT_EQ(platform::callCount(Call::closesocket), 1u);
  EXPECT_EQ(platform::callCount(Call::RIOCloseCompletionQueue), queues);
  EXPECT_EQ(platform::callCount(Call::RIODeregisterBuffer), registrations);
  EXPECT_EQ(platform::callCount(Call::CloseHandle), registrations);
}

INSTANTIATE_TEST_SUITE_P(Table, LifecycleTest,
                         ::testing::Values(Transport::kPlainUdp, Transport::kRio),
                         [](const auto& info) { return std::string(transportName(info.param)); });

}  // namespace
}  // namespace tavro::testing
