// The data transport's own arithmetic: datagram endpoints from their texts.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "stream/ipv4_text.h"

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

}  // namespace
}  // namespace tavro::testing
