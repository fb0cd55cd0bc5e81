// The data transport's own arithmetic: datagram endpoints from their texts,
// and the slices of a packet that each datagram is sent from.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "driver/process.h"
#include "stream/data_transport.h"
#include "stream/ipv4_text.h"
#include "stream/stream_control.h"
#include "support/open_driver.h"

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

class DatagramSlotsTest : public OpenDriverTest, public ::testing::WithParamInterface<SliceCase> {
 protected:
  void TearDown() override {
    stream::releaseDatagramSlots(driver::process().stream);
    OpenDriverTest::TearDown();
  }
};

TEST_P(DatagramSlotsTest, OneSlicePerDatagramCoveringThePacketInOrder) {
  const SliceCase& c = GetParam();
  object().session.datagramSize = c.datagramSize;
  object().session.datagramsPerBuffer = c.packetBytes / c.datagramSize;
  stream::DataTransportState& transport = driver::process().stream.transport;
  transport.packetBufferId = 0x5EED;
  ASSERT_TRUE(stream::buildDatagramSlots(object().session));
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
  transport.packetBufferId = platform::kRioInvalidBufferId;
}

INSTANTIATE_TEST_SUITE_P(Table, DatagramSlotsTest,
                         ::testing::Values(SliceCase{1152, 1152}, SliceCase{49152, 49152},
                                           SliceCase{196608, 49152}, SliceCase{73728, 24576},
                                           SliceCase{262144, 32768}));

TEST_F(DatagramSlotsTest, NoDatagramsMeansNoSlotsRatherThanAnEmptyArray) {
  object().session.datagramSize = 4096;
  object().session.datagramsPerBuffer = 2;
  ASSERT_TRUE(stream::buildDatagramSlots(object().session));
  object().session.datagramsPerBuffer = 0;
  EXPECT_FALSE(stream::buildDatagramSlots(object().session));
  EXPECT_EQ(driver::process().stream.transport.datagramSlots, nullptr);
  EXPECT_EQ(driver::process().stream.transport.datagramSlotCount, 0u);
}

}  // namespace
}  // namespace tavro::testing
