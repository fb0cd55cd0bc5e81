// Each transport over real loopback sockets, checked where the bytes arrive:
// priming, packets split into datagrams, ticks back, and the stop datagram.
// Built natively and for Windows (run under Wine).
#include <gmock/gmock.h>

#include <algorithm>

#include "transport_fixture.h"

namespace tavro::testing {
namespace {

using platform::Call;
using std::chrono::milliseconds;

struct Shape {
  const char* name;
  uint32_t packetBytes;
  uint32_t datagramSize;  // in UDP mode; TCP sends the whole packet at once
};

constexpr Shape kShapes[] = {
    {"OneDatagram", 4096, 4096},
    {"FourOf49152", 196608, 49152},  // 24576 frames in the 32-bit layout
    {"ThreeOf24576", 73728, 24576},
    {"EightOf32768", 262144, 32768},
};

struct WireCase {
  Transport transport;
  Shape shape;
};

std::string caseName(const ::testing::TestParamInfo<WireCase>& info) {
  return std::string(transportName(info.param.transport)) + "_" + info.param.shape.name;
}

class TransportWireTest : public TransportTest, public ::testing::WithParamInterface<WireCase> {
 protected:
  Transport transport() const { return GetParam().transport; }
  bool udp() const { return transport() != Transport::kTcp; }
  uint32_t datagramSize() const {
    return udp() ? GetParam().shape.datagramSize : GetParam().shape.packetBytes;
  }
  size_t datagramsPerPacket() const { return GetParam().shape.packetBytes / datagramSize(); }

  void fillPacket(uint32_t round) {
    for (uint32_t i = 0; i < GetParam().shape.packetBytes; ++i) {
      packet()[i] = static_cast<uint8_t>(round * 7 + i * 13 + i / 251);
    }
  }
  std::vector<Bytes> expectedSlices() {
    std::vector<Bytes> slices;
    for (size_t i = 0; i < datagramsPerPacket(); ++i) {
      const uint8_t* begin = packet() + i * datagramSize();
      slices.emplace_back(begin, begin + datagramSize());
    }
    return slices;
  }
};

TEST_P(TransportWireTest, CarriesExactlyTheBytesAndLengthsOfEachStep) {
  const Shape& shape = GetParam().shape;
  if (transport() == Transport::kRio) {
    TAVRO_SKIP_WITHOUT_RIO();
  }
  std::optional<platform::ScopedFault> noTable;
  if (transport() == Transport::kPlainUdp) chooseVersion(6, 1);
  if (transport() == Transport::kRio || transport() == Transport::kRioUnavailable) {
    chooseVersion(6, 2);
  }
  if (transport() == Transport::kRioUnavailable) noTable.emplace(Call::WSAIoctl);
  layout(shape.packetBytes, datagramSize(),
         udp() ? control::kTransportUdp : control::kTransportTcp);
  if (HasFatalFailure()) return;

  // Start: the data socket in UDP mode, the slices, the priming.
  if (!udp()) {
    connectControl();
    if (HasFatalFailure()) return;
  }
  const control::Outcome opened = openData();
  ASSERT_TRUE(opened.ok());
  EXPECT_EQ(usesRegisteredIo(), transport() == Transport::kRio);
  EXPECT_EQ(opened.text, nullptr);
  EXPECT_EQ(opened.notification, control::Notification::kNone);
  dataTransport->prime();
  size_t seen = 0;
  if (transport() == Transport::kTcp) {
    EXPECT_TRUE(peer.noMoreDatagramsWithin(milliseconds(50)));
  } else {
    ASSERT_TRUE(peer.waitForDatagrams(1, std::chrono::seconds(5)));
    const Bytes zeros(transport() == Transport::kRio ? datagramSize() : 32, 0);
    EXPECT_EQ(peer.datagrams()[0], zeros);
    seen = 1;
  }

  // Packets: the first posts every slice at once, later ones wait for
  // completions, and none may have more sends outstanding than one packet.
  for (uint32_t round = 0; round < 3; ++round) {
    fillPacket(round);
    const uint32_t sendsBefore = platform::callCount(Call::RIOSend);
    const uint32_t dequeuesBefore = platform::callCount(Call::RIODequeueCompletion);
    ASSERT_TRUE(dataTransport->sendPacket()) << "packet " << round;
    if (transport() == Transport::kRio) {
      EXPECT_EQ(platform::callCount(Call::RIOSend) - sendsBefore, datagramsPerPacket());
      const uint32_t dequeues = platform::callCount(Call::RIODequeueCompletion) - dequeuesBefore;
      if (round == 0) {
        EXPECT_EQ(dequeues, 0u);
      } else {
        EXPECT_GE(dequeues, datagramsPerPacket());
      }
    }
    if (udp()) {
      ASSERT_TRUE(peer.waitForDatagrams(seen + datagramsPerPacket(), std::chrono::seconds(5)))
          << "packet " << round << ": " << peer.datagrams().size() - seen << " datagrams";
      std::vector<Bytes> got = peer.datagrams();
      got.erase(got.begin(), got.begin() + static_cast<ptrdiff_t>(seen));
      std::vector<Bytes> want = expectedSlices();
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      EXPECT_TRUE(got == want) << "packet " << round;
      seen += datagramsPerPacket();
    } else {
      Bytes got;
      ASSERT_TRUE(peer.readStream(shape.packetBytes, &got, std::chrono::seconds(5)));
      EXPECT_TRUE(std::equal(got.begin(), got.end(), packet())) << "packet " << round;
    }
  }

  // Ticks come back as they were sent; the thread, not the transport, looks
  // for exactly 2. A tick slot holds 32 bytes.
  for (const size_t length : {2u, 1u, 3u, 64u}) {
    const Bytes tick(length, static_cast<uint8_t>(0xA0 + length));
    if (udp()) {
      ASSERT_TRUE(peer.sendToLastSender(tick));
    } else {
      ASSERT_TRUE(peer.sendStream(tick));
    }
    uint8_t buffer[stream::kTickReceiveBytes] = {};
    const int32_t expected = transport() == Transport::kRio
                                 ? static_cast<int32_t>(std::min<size_t>(length, 32))
                                 : static_cast<int32_t>(length);
    EXPECT_EQ(dataTransport->receiveTick(buffer), expected) << "tick of " << length;
  }

  // Stop: 11 bytes of the packet in plain UDP, tick slot 0's first byte with
  // Registered I/O, nothing in TCP mode.
  dataTransport->sendStopSignal();
  if (udp()) {
    ASSERT_TRUE(peer.waitForDatagrams(seen + 1, std::chrono::seconds(5)));
    const Bytes stop = peer.datagrams()[seen];
    if (transport() == Transport::kRio) {
      EXPECT_EQ(stop, Bytes(1, packet()[shape.packetBytes]));
    } else {
      EXPECT_EQ(stop, Bytes(packet(), packet() + 11));
    }
  }
  EXPECT_TRUE(peer.noMoreDatagramsWithin(milliseconds(50)));
  if (transport() == Transport::kTcp) {
    EXPECT_TRUE(peer.streamQuietFor(milliseconds(50)));
  }

  dataTransport.reset();
  EXPECT_FALSE(dataSocketOpen());
  EXPECT_THAT(spy.codes(), ::testing::IsEmpty());
}

std::vector<WireCase> wireCases() {
  std::vector<WireCase> cases;
#if defined(_WIN32)
  // Wine has no Registered I/O: the Windows builds check its fallback.
  const Transport transports[] = {Transport::kTcp, Transport::kPlainUdp,
                                  Transport::kRioUnavailable};
#else
  const Transport transports[] = {Transport::kTcp, Transport::kPlainUdp, Transport::kRio,
                                  Transport::kRioUnavailable};
#endif
  for (Transport transport : transports) {
    for (const Shape& shape : kShapes) cases.push_back({transport, shape});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, TransportWireTest, ::testing::ValuesIn(wireCases()), caseName);

}  // namespace
}  // namespace tavro::testing
