// tavro-sink's data side over real loopback sockets, the test playing the
// driver: every layout in both transports (and both kinds of priming) comes
// out bit-exact, and each kind of damage is caught and counted.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "fake_stream_driver.h"
#include "signal/test_signal.h"
#include "sink/network/sink_peer.h"
#include "support/loopback_address.h"
#include "support/temp_dir.h"

namespace tavro::testing {
namespace {

using ::testing::HasSubstr;

constexpr uint64_t kTicks = 6;

struct Expected {
  const char* layout;
  const char* transport;
  bool bitExact = true;
  uint64_t mismatchedAtLeast = 0;  // with mismatchedAtMost: a range
  uint64_t mismatchedAtMost = 0;
  uint64_t wrongMarkers = 0;
  uint64_t malformed = 0;
  uint64_t missing = 0;
  std::optional<sink::Mismatch> first = std::nullopt;  // packet, frame, channel compared
};

struct StreamCase {
  const char* name;
  FakeStream stream;
  Expected expected;
  sink::DopMode dop = sink::DopMode::kAuto;
};

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class SinkStreamTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void TearDown() override {
    if (peer) peer->stop();
  }

  sink::StreamReport play(FakeStream stream, sink::DopMode dop) {
    stream.address = address;
    sink::SinkOptions options;
    options.address = address;
    options.transport = stream.priming == Priming::kNone ? 1 : 2;
    options.shift = stream.shift;
    options.verify = true;
    options.dop = dop;
    options.tickLimit = stream.packets == 0 ? kTicks : 0;
    options.outputDir = output.path().string();
    peer = std::make_unique<sink::SinkPeer>(options);
    std::string error;
    EXPECT_TRUE(peer->start(&error)) << error;
    driver = runFakeDriver(stream);
    EXPECT_EQ(driver.reply, "+OK");
    EXPECT_TRUE(peer->waitForReports(1, std::chrono::seconds(20)));
    const auto reports = peer->reports();
    return reports.empty() ? sink::StreamReport{} : reports.front();
  }

  const std::string address = uniqueLoopbackAddress();
  TempDir output;
  std::unique_ptr<sink::SinkPeer> peer;
  FakeResult driver;
};

TEST_P(SinkStreamTest, ReportsWhatArrived) {
  const StreamCase& c = GetParam();
  const sink::StreamReport report = play(c.stream, c.dop);
  RecordProperty("summary", sink::summaryLine(report));
  const Expected& e = c.expected;
  EXPECT_EQ(report.layout, e.layout);
  EXPECT_EQ(report.transport, e.transport);
  EXPECT_EQ(report.bitExact(), e.bitExact);
  EXPECT_GE(report.mismatched, e.mismatchedAtLeast);
  EXPECT_LE(report.mismatched, e.mismatchedAtMost);
  EXPECT_EQ(report.wrongMarkers, e.wrongMarkers);
  EXPECT_EQ(report.malformed, e.malformed);
  EXPECT_EQ(report.missing, e.missing);
  EXPECT_EQ(report.unasked, 0u);
  EXPECT_EQ(report.foreign, c.stream.fault == Fault::kForeignDatagram ? 1u : 0u);
  if (e.first) {
    ASSERT_TRUE(report.firstMismatch);
    EXPECT_EQ(report.firstMismatch->packet, e.first->packet);
    EXPECT_EQ(report.firstMismatch->frame, e.first->frame);
    EXPECT_EQ(report.firstMismatch->channel, e.first->channel);
    EXPECT_NE(report.firstMismatch->expected, report.firstMismatch->got);
  } else {
    EXPECT_FALSE(report.firstMismatch);
  }
  if (c.stream.packets == 0) {
    // The sink's own bound ended the stream, and the driver saw the close.
    EXPECT_EQ(report.end, sink::StreamEnd::kTickLimit);
    EXPECT_EQ(report.ticks, kTicks);
    EXPECT_TRUE(driver.closedBySink);
  } else {
    EXPECT_EQ(report.end, sink::StreamEnd::kDriver);
  }
  EXPECT_EQ(report.packets + report.malformed + report.missing, driver.packetsSent);
  EXPECT_GT(report.latencyMaxUs + 1, report.latencyP99Us);
  EXPECT_GE(report.latencyP99Us, report.latencyMedianUs);
  if (e.bitExact) {
    EXPECT_THAT(peer->lines(), ::testing::Contains(HasSubstr("verify=bit-exact")));
  }

  // The file holds every packet's samples after the header.
  ASSERT_FALSE(report.file.empty());
  std::ifstream in(report.file, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (report.layout != "dop" && report.malformed == 0) {
    const size_t header = c.stream.bits == 16 ? 44 : 68;
    ASSERT_EQ(file.size(), header + driver.data.size());
    EXPECT_TRUE(std::equal(driver.data.begin(), driver.data.end(), file.begin() + header));
  }
  if (report.layout == "dop") {
    // The first block of each channel: the DSD bytes in time order, the
    // earliest one-bit sample in each byte's least significant bit.
    constexpr size_t kHeader = 92, kBlock = 4096;
    ASSERT_GE(file.size(), kHeader + 2 * kBlock);
    size_t wrong = 0;
    for (uint32_t channel = 0; channel < 2; ++channel) {
      for (size_t i = 0; i < kBlock; ++i) {
        const uint8_t timeOrdered = signal::dsdByte(channel, i);
        uint8_t lsbFirst = 0;
        for (int bit = 0; bit < 8; ++bit) lsbFirst |= ((timeOrdered >> (7 - bit)) & 1) << bit;
        if (file[kHeader + channel * kBlock + i] != lsbFirst) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0u);
  }
}

constexpr auto kPcm16 = "pcm16";
constexpr auto kPcm24 = "pcm24";
constexpr auto kPcm32 = "pcm32";
constexpr auto kDop = "dop";

FakeStream pcm(uint32_t rate, uint32_t bits, uint32_t frames, Priming priming) {
  FakeStream s;
  s.rate = rate;
  s.bits = bits;
  s.packetFrames = frames;
  s.priming = priming;
  return s;
}

FakeStream dop(uint32_t rate, uint32_t frames, Priming priming) {
  FakeStream s = pcm(rate, 24, frames, priming);
  s.dop = true;
  return s;
}

FakeStream with(FakeStream s, Fault fault) {
  s.fault = fault;
  return s;
}

FakeStream shifted(FakeStream s, uint32_t shift) {
  s.shift = shift;
  return s;
}

FakeStream endedByDriver(FakeStream s, uint64_t packets) {
  s.packets = packets;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SinkStreamTest,
    ::testing::Values(
        StreamCase{"Pcm16OnTcp", pcm(44100, 16, 256, Priming::kNone), {kPcm16, "tcp"}},
        StreamCase{
            "Pcm24ShiftedOnTcp", shifted(pcm(96000, 24, 512, Priming::kNone), 4), {kPcm24, "tcp"}},
        StreamCase{"Pcm32ShiftOf32OnPlainUdp",
                   shifted(pcm(48000, 32, 256, Priming::kPlain), 32),
                   {kPcm32, "udp"}},
        StreamCase{"Pcm32InTwoDatagramsOnRegisteredIo",
                   pcm(192000, 32, 8192, Priming::kRegistered),
                   {kPcm32, "udp-rio"}},
        StreamCase{"DopOnRegisteredIo", dop(176400, 1024, Priming::kRegistered), {kDop, "udp-rio"}},
        StreamCase{"DopOnTcp", dop(352800, 2048, Priming::kNone), {kDop, "tcp"}},
        StreamCase{"Pcm24AtADopRateIsPcm", pcm(176400, 24, 1024, Priming::kPlain), {kPcm24, "udp"}},
        StreamCase{"DopTakenAsPcmWhenForcedOff",
                   dop(176400, 1024, Priming::kNone),
                   {kPcm24, "tcp", false, 1, 2 * 1024 * (kTicks + 1), 0, 0, 0, sink::Mismatch{}},
                   sink::DopMode::kOff},
        StreamCase{"DriverEndsThePlainUdpStream",
                   endedByDriver(pcm(44100, 24, 256, Priming::kPlain), 5),
                   {kPcm24, "udp"}},
        StreamCase{"DatagramFromAStrangerIsIgnored",
                   with(pcm(48000, 24, 256, Priming::kPlain), Fault::kForeignDatagram),
                   {kPcm24, "udp"}},
        StreamCase{"FlippedByte",
                   with(pcm(44100, 24, 256, Priming::kNone), Fault::kFlipByte),
                   {kPcm24, "tcp", false, 1, 1, 0, 0, 0, sink::Mismatch{2, 5, 0}}},
        StreamCase{"SwappedChannels",
                   with(pcm(48000, 16, 256, Priming::kPlain), Fault::kSwapChannels),
                   {kPcm16, "udp", false, 2 * 256 - 8, 2 * 256, 0, 0, 0, sink::Mismatch{2, 0, 0}}},
        StreamCase{"WrongDopMarker",
                   with(dop(176400, 1024, Priming::kNone), Fault::kWrongMarker),
                   {kDop, "tcp", false, 0, 0, 1}},
        StreamCase{"ShortDatagram",
                   with(pcm(44100, 24, 256, Priming::kRegistered), Fault::kShortPacket),
                   {kPcm24, "udp-rio", false, 0, 0, 0, 1, 0}},
        StreamCase{
            "ShortPacketOnTcp",
            with(pcm(44100, 24, 256, Priming::kNone), Fault::kShortPacket),
            {kPcm24, "tcp", false, 1, 2 * 256 * kTicks, 0, 1, 0, sink::Mismatch{2, 255, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::testing
