#pragma once
// A transport with what start fixes for a stream, on the process's control
// connection; a receiving peer on the streamer's address of
// the test's own; and the Windows version the transport is to see. Each test
// releases what it opened.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "control/outcome.h"
#include "platform/fault.h"
#include "platform/memory.h"
#include "platform/rio.h"
#include "platform/version.h"
#include "stream/data_transport.h"
#include "stream/ipv4_text.h"
#include "support/data_peer.h"
#include "support/driver_fixture.h"
#include "support/loopback_address.h"
#include "support/notification_spy.h"
#include "support/process_state.h"

namespace tavro::testing {

inline constexpr uint16_t kStreamerPort = 48168;

enum class Transport { kTcp, kPlainUdp, kRio, kRioUnavailable };

inline const char* transportName(Transport transport) {
  switch (transport) {
    case Transport::kTcp:
      return "Tcp";
    case Transport::kPlainUdp:
      return "PlainUdp";
    case Transport::kRio:
      return "RegisteredIo";
    case Transport::kRioUnavailable:
      return "RegisteredIoUnavailable";
  }
  return "?";
}

class TransportTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    // The Winsock reference a driver object would hold for its stream.
    platform::netStartup();
    // Wine numbers the processes of each prefix from the same start, so a
    // program in another prefix may hold this process's first addresses.
    std::string error;
    bool started = false;
    for (int attempt = 0; attempt < 64 && !started; ++attempt) {
      address = uniqueLoopbackAddress();
      started = peer.start(address, kStreamerPort, &error);
    }
    ASSERT_TRUE(started) << error;
    link.hostName = address;
    link.portText = "48168";
    link.localAddressText = address;
  }

  // As a driver object's release: its sockets go before its Winsock reference.
  void TearDown() override {
    closeControlConnection();
    dataTransport.reset();
    packetBuffer = platform::Pages();
    platform::netCleanup();
    DriverTest::TearDown();
  }

  // What start fixes before it opens the transport.
  void layout(uint32_t packetBytes, uint32_t datagramSize, uint32_t transportMode) {
    link.settings.transportMode = transportMode;
    packetBuffer = platform::Pages(packetBytes + stream::kTickSlotsBytes);
    ASSERT_TRUE(packetBuffer);
    wire = {packetBuffer.get(), datagramSize, packetBytes / datagramSize,
            packetBytes + stream::kTickSlotsBytes};
  }

  // The transport start opens, with the packet buffer and its tick slots
  // registered with Registered I/O. Over TCP it carries on the control
  // connection.
  control::Outcome openData() {
    control::Outcome failure;
    dataTransport = stream::openDataTransport(controlConnection(), link, wire, failure);
    return failure;
  }

  bool usesRegisteredIo() const {
    return dataTransport != nullptr && std::string(dataTransport->name()) == "Registered I/O";
  }

  void chooseVersion(uint32_t major, uint32_t minor) {
    version.emplace(platform::Call::GetVersionExA,
                    platform::FaultPlan{.value = platform::versionFaultValue(major, minor)});
  }

  // Whether this machine lets the io_uring engine run at all.
  static bool rioAvailable() {
    static const bool available = [] {
      platform::netStartup();
      const platform::Socket socket = platform::openUdpSocket(true);
      platform::RioTable table;
      const bool loaded =
          socket != platform::kInvalidSocket && platform::rioLoadTable(socket, &table);
      if (socket != platform::kInvalidSocket) platform::closeSocket(socket);
      platform::netCleanup();
      return loaded;
    }();
    return available;
  }

  // The control connection, connected to the peer, as TCP mode uses it.
  void connectControl() {
    const platform::Socket socket = platform::openTcpSocket();
    ASSERT_NE(socket, platform::kInvalidSocket);
    ASSERT_EQ(platform::connectTo(socket, stream::ipv4Endpoint(address, "48168")), 0);
    adoptControlSocket(socket);
    ASSERT_TRUE(peer.acceptConnection(std::chrono::seconds(5)));
  }

  uint8_t* packet() { return static_cast<uint8_t*>(packetBuffer.get()); }

  platform::Pages packetBuffer;
  stream::PacketWire wire;
  std::unique_ptr<stream::DataTransport> dataTransport;
  control::StreamerLink link;
  std::string address;
  // Steps return what to report; nothing below the driver may post itself.
  NotificationSpy spy;
  DataPeer peer;
  std::optional<platform::ScopedFault> version;
};

#define TAVRO_SKIP_WITHOUT_RIO()                                                   \
  if (!rioAvailable()) {                                                           \
    GTEST_SKIP() << "this kernel refuses io_uring to the process, so there is no " \
                    "Registered I/O engine to test";                               \
  }

}  // namespace tavro::testing
