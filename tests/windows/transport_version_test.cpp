// The transport as the Windows builds choose it under Wine, with the version
// the system really reports: Wine's default 6.1 gives plain UDP; a prefix
// set to Windows 8 gives 6.2, where the function table is asked for and,
// Wine having no Registered I/O, the stream goes over plain UDP all the same.
// TAVRO_EXPECT_WINDOWS_VERSION names the version the prefix reports.
#include <gmock/gmock.h>

#include <cstdlib>
#include <thread>

#include "transport_fixture.h"

namespace tavro::testing {
namespace {

using platform::Call;

constexpr uint32_t kPacketBytes = 98304;
constexpr uint32_t kDatagramSize = 49152;

class WindowsVersionTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    const char* expected = std::getenv("TAVRO_EXPECT_WINDOWS_VERSION");
    ASSERT_NE(expected, nullptr) << "set TAVRO_EXPECT_WINDOWS_VERSION (6.1 or 6.2)";
    expectedVersion = expected;
    layout(kPacketBytes, kDatagramSize, control::kTransportUdp);
  }
  std::string expectedVersion;
};

TEST_F(WindowsVersionTest, TheReportedVersionLeadsToPlainUdpOnTheWire) {
  platform::OsVersion version;
  ASSERT_TRUE(platform::windowsVersion(&version));
  EXPECT_EQ(std::to_string(version.major) + "." + std::to_string(version.minor), expectedVersion);

  platform::resetCallCounts();
  const control::Outcome opened = openData();
  ASSERT_TRUE(opened.ok());
  EXPECT_FALSE(usesRegisteredIo());
  // Only a Windows 8 report asks for the table (and finds none under Wine),
  // leaving nothing of the attempt open.
  const bool asked = expectedVersion == "6.2";
  EXPECT_EQ(platform::callCount(Call::WSAIoctl), asked ? 1u : 0u);
  EXPECT_EQ(platform::callCount(Call::closesocket), asked ? 1u : 0u);
  EXPECT_EQ(opened.text, nullptr);

  dataTransport->prime();
  for (uint32_t i = 0; i < kPacketBytes; ++i) packet()[i] = static_cast<uint8_t>(i * 31 + 5);
  ASSERT_TRUE(dataTransport->sendPacket());
  dataTransport->sendStopSignal();
  ASSERT_TRUE(peer.waitForDatagrams(4, std::chrono::seconds(5)));
  const std::vector<Bytes> got = peer.datagrams();
  EXPECT_EQ(got[0], Bytes(32, 0));
  EXPECT_EQ(got[1], Bytes(packet(), packet() + kDatagramSize));
  EXPECT_EQ(got[2], Bytes(packet() + kDatagramSize, packet() + kPacketBytes));
  EXPECT_EQ(got[3], Bytes(packet(), packet() + 11));
}

// Plain UDP's receive waits without limit; stop must still get the thread out.
TEST_F(WindowsVersionTest, AReceiveWaitingForATickIsWokenWithoutClosingTheSocket) {
  ASSERT_TRUE(openData().ok());
  int32_t received = 1;
  std::thread streaming([&] {
    uint8_t buffer[stream::kTickReceiveBytes];
    received = dataTransport->receiveTick(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  dataTransport->wake();
  streaming.join();
  EXPECT_LE(received, 0);
  EXPECT_TRUE(dataSocketOpen());
}

}  // namespace
}  // namespace tavro::testing
