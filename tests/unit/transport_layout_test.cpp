// The data transport's own arithmetic: datagram endpoints from their texts,
// and the slices of a packet that each datagram is sent from.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "stream/data_transport.h"
#include "stream/ipv4_text.h"
#include "stream/stream_control.h"

namespace tavro::testing {
namespace {

struct AddressCase {
  const char* text;
  bool valid;
  std::array<uint8_t, 4> bytes;
};

class Ipv4TextTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(Ipv4TextTest, ReadsFourDecimalPartsIntoNetworkOrder) {
  const AddressCase& c = GetParam();
  const uint32_t address = stream::ipv4FromText(c.text);
  if (!c.valid) {
    EXPECT_EQ(address, stream::kNoAddress);
    return;
  }
  std::array<uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &address, sizeof address);
  EXPECT_EQ(bytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ipv4TextTest,
    ::testing::Values(AddressCase{"127.0.0.1", true, {127, 0, 0, 1}},
                      AddressCase{"192.168.1.20", true, {192, 168, 1, 20}},
                      AddressCase{"10.0.0.255", true, {10, 0, 0, 255}},
                      AddressCase{"1.2.3", false, {}}, AddressCase{"1.2.3.4.5", false, {}},
                      AddressCase{"256.1.2.3", false, {}}, AddressCase{"1.2.3.4 ", false, {}},
                      AddressCase{"1..3.4", false, {}}, AddressCase{"0001.2.3.4", false, {}},
                      AddressCase{"streamer.local", false, {}}));

TEST(Ipv4EndpointTest, PutsFamilyPortAndAddressWhereTheSystemReadsThem) {
  const platform::Ipv4Endpoint endpoint = stream::ipv4Endpoint("192.168.1.20", "48168");
  uint8_t bytes[sizeof endpoint];
  std::memcpy(bytes, &endpoint, sizeof endpoint);
  EXPECT_EQ(endpoint.family, stream::kIpv4Family);
  EXPECT_EQ(bytes[2], 0xBC);  // 48168 = 0xBC28, high byte first
  EXPECT_EQ(bytes[3], 0x28);
  EXPECT_EQ(bytes[4], 192);
  EXPECT_EQ(bytes[7], 20);
}

struct SliceCase {
  uint32_t packetBytes;
  uint32_t datagramSize;
};

// The slices live in whichever slot the session points at; the test's own
// goes with it.
class DatagramSlotsTest : public ::testing::TestWithParam<SliceCase> {
 protected:
  DatagramSlotsTest() { session.slot = &slot; }

  stream::StreamState slot;
  stream::Session session;
};

TEST_P(DatagramSlotsTest, OneSlicePerDatagramCoveringThePacketInOrder) {
  const SliceCase& c = GetParam();
  session.datagramSize = c.datagramSize;
  session.datagramsPerBuffer = c.packetBytes / c.datagramSize;
  stream::DataTransportState& transport = slot.transport;
  transport.packetBufferId = 0x5EED;
  ASSERT_TRUE(stream::buildDatagramSlots(session));
  ASSERT_EQ(transport.datagramSlotCount, c.packetBytes / c.datagramSize);
  uint32_t covered = 0;
  for (size_t i = 0; i < transport.datagramSlotCount; ++i) {
    const platform::RioBuf& slice = transport.datagramSlots[i];
    EXPECT_EQ(slice.bufferId, 0x5EEDu);
    EXPECT_EQ(slice.offset, covered);
    EXPECT_EQ(slice.length, c.datagramSize);
    covered += slice.length;
  }
  EXPECT_EQ(covered, c.packetBytes);
}

INSTANTIATE_TEST_SUITE_P(Table, DatagramSlotsTest,
                         ::testing::Values(SliceCase{1152, 1152}, SliceCase{49152, 49152},
                                           SliceCase{196608, 49152}, SliceCase{73728, 24576},
                                           SliceCase{262144, 32768}));

TEST_F(DatagramSlotsTest, NoDatagramsMeansNoSlotsRatherThanAnEmptyArray) {
  session.datagramSize = 4096;
  session.datagramsPerBuffer = 2;
  ASSERT_TRUE(stream::buildDatagramSlots(session));
  session.datagramsPerBuffer = 0;
  EXPECT_FALSE(stream::buildDatagramSlots(session));
  EXPECT_EQ(slot.transport.datagramSlots, nullptr);
  EXPECT_EQ(slot.transport.datagramSlotCount, 0u);
}

}  // namespace
}  // namespace tavro::testing
