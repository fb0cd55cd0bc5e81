// One tick's packet through a real driver object: which half and which
// fields packing takes, and the order of sending, counting and the drive
// check, with the send step and the drive check replaced by recorders.
#include "stream/pack_and_send.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "control/control_connection.h"
#include "driver/buffer_size.h"
#include "driver/process.h"
#include "driver/vantrel.h"
#include "platform/memory.h"
#include "stream/dsd_rates.h"
#include "stream/packing.h"
#include "support/driver_fixture.h"

namespace tavro::stream {
namespace {

using driver::Vantrel;

constexpr uint8_t kUnwritten = 0xEE;
constexpr uint32_t kTransportBytes = 64;

struct Recorder {
  int sends = 0;
  int driveChecks = 0;
  bool sendResult = true;
  std::vector<std::vector<uint8_t>> packets;
  uint32_t packetBytes = 0;
} recorder;

bool recordSend(Session& session) noexcept {
  ++recorder.sends;
  const auto* packet = static_cast<const uint8_t*>(session.packetBuffer);
  recorder.packets.emplace_back(packet, packet + recorder.packetBytes);
  return recorder.sendResult;
}

void recordDriveCheck(Session& /*session*/) noexcept { ++recorder.driveChecks; }

constexpr PacketSteps kRecordingSteps{&recordSend, &recordDriveCheck};

class PackAndSendTest : public testing::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    recorder = Recorder{};
    asioDriver = testing::createDriver();
    ASSERT_NE(asioDriver, nullptr);
  }
  void TearDown() override {
    object().session.streaming.store(false);
    asioDriver->Release();
    DriverTest::TearDown();
  }

  Vantrel& object() { return *static_cast<Vantrel*>(asioDriver); }

  // Buffers made as a host makes them, halves filled with different words,
  // and a packet buffer as start allocates it. disposeBuffers closes the
  // control connection, so each case opens one; packing only asks whether
  // it is open.
  void prepare(double rate, int32_t wireBits, int32_t bufferFrames,
               control::StreamerSettings settings = {}) {
    Vantrel& d = object();
    if (driver::process().connection.socket.load() == platform::kInvalidSocket) {
      driver::process().connection.socket.store(platform::openTcpSocket());
    }
    ASSERT_NE(driver::process().connection.socket.load(), platform::kInvalidSocket);
    d.sampleRate = rate;
    d.bufferFrames = bufferFrames;
    asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
    ASSERT_EQ(asioDriver->createBuffers(infos, 2, bufferFrames, &callbacks), asio::kAseOk);
    // As start hands them to the stream.
    d.session.outputs[0] = d.outputBuffers[0];
    d.session.outputs[1] = d.outputBuffers[1];
    d.session.wordsPerHalf = d.wordsPerHalf;
    uint32_t seed = 7;
    for (auto& info : infos) {
      for (int half = 0; half < 2; ++half) {
        auto* words = static_cast<uint32_t*>(info.buffers[half]);
        for (int32_t i = 0; i < d.wordsPerHalf; ++i) {
          seed = seed * 1664525u + 1013904223u;
          words[i] = seed;
        }
      }
    }
    d.session.config = streamConfig(settings, rate, bufferFrames, wireBits);
    layout = wireLayout(wireBits, rate);
    recorder.packetBytes = packetBytes(layout, bufferFrames);
    ASSERT_GT(recorder.packetBytes, 0u);
    d.session.packetBuffer = platform::allocatePages(recorder.packetBytes + kTransportBytes);
    ASSERT_NE(d.session.packetBuffer, nullptr);
    std::memset(d.session.packetBuffer, kUnwritten, recorder.packetBytes + kTransportBytes);
    d.session.packetsSent = 0;
    d.session.streaming.store(true);
  }

  // What half `half` must become, from the scalar path with `adjust`.
  std::vector<uint8_t> expectedPacket(int half, PcmAdjust adjust) {
    Vantrel& d = object();
    const size_t first = static_cast<size_t>(half) * d.wordsPerHalf;
    std::vector<uint8_t> packet(recorder.packetBytes);
    packWith(PackPath::Scalar,
             {static_cast<const uint32_t*>(d.outputBuffers[0]) + first,
              static_cast<const uint32_t*>(d.outputBuffers[1]) + first,
              static_cast<uint32_t>(d.wordsPerHalf), layout, adjust},
             packet.data());
    return packet;
  }

  bool transportBytesUntouched() {
    const auto* tail =
        static_cast<const uint8_t*>(object().session.packetBuffer) + recorder.packetBytes;
    for (uint32_t i = 0; i < kTransportBytes; ++i) {
      if (tail[i] != kUnwritten) return false;
    }
    return true;
  }

  asio::IAsio* asioDriver = nullptr;
  asio::AsioCallbacks callbacks{};
  WireLayout layout = WireLayout::Pcm24;
};

struct RateCase {
  double rate;
  int32_t wireBits;
  bool pcm;  // shift and polarity apply
};

TEST_F(PackAndSendTest, EachRateClassPacksTheCurrentHalfWithTheStreamsSettings) {
  const RateCase cases[] = {
      {44100.0, 16, true},   {44100.0, 24, true},   {44100.0, 32, true},    {192000.0, 24, true},
      {1536000.0, 24, true}, {1536000.0, 32, true}, {2822400.0, 24, false}, {22579200.0, 24, false},
  };
  for (const RateCase& c : cases) {
    for (int half : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << c.rate << " Hz, " << c.wireBits << " bits, half " << half);
      recorder = Recorder{};
      control::StreamerSettings settings;
      settings.sampleShift = 35;  // 3 after the modulo
      settings.invertPolarity = 1;
      prepare(c.rate, c.wireBits, driver::bufferSizeFor(0, c.rate), settings);
      Vantrel& d = object();
      d.session.currentHalf = half;
      packAndSend(d.session, kRecordingSteps);
      ASSERT_EQ(recorder.sends, 1);
      EXPECT_EQ(recorder.packets[0],
                expectedPacket(half, c.pcm ? PcmAdjust{3, true} : PcmAdjust{}));
      if (c.pcm) {
        EXPECT_NE(recorder.packets[0], expectedPacket(half, {}))
            << "the adjustment must make a difference to be seen";
      }
      EXPECT_TRUE(transportBytesUntouched());
      EXPECT_EQ(d.session.packetsSent, 1u);
      EXPECT_EQ(recorder.driveChecks, 1);
      d.session.streaming.store(false);
      asioDriver->disposeBuffers();
    }
  }
}

// Every DoP packet begins with a 0x05 frame and ends with a 0xFA frame, so the
// markers alternate across packets without any state kept between them.
TEST_F(PackAndSendTest, DopMarkersAlternateWithinAndAcrossPackets) {
  prepare(2822400.0, 24, driver::bufferSizeFor(0, 2822400.0));
  Vantrel& d = object();
  for (int half : {0, 1}) {
    d.session.currentHalf = half;
    packAndSend(d.session, kRecordingSteps);
  }
  ASSERT_EQ(recorder.packets.size(), 2u);
  std::vector<uint8_t> markers;
  for (const auto& packet : recorder.packets) {
    ASSERT_EQ(packet.size() % 6, 0u);
    EXPECT_EQ(packet[2], 0x05) << "first frame of a packet";
    EXPECT_EQ(packet[packet.size() - 1], 0xFA) << "last frame of a packet";
    for (size_t frame = 0; frame < packet.size(); frame += 6) {
      EXPECT_EQ(packet[frame + 2], packet[frame + 5]) << "both channels carry one marker";
      markers.push_back(packet[frame + 2]);
    }
  }
  EXPECT_EQ(markers.size(), 2u * 2u * static_cast<size_t>(d.wordsPerHalf));
  for (size_t i = 0; i < markers.size(); ++i) {
    ASSERT_EQ(markers[i], i % 2 == 0 ? 0x05 : 0xFA) << "DoP frame " << i;
  }
}

struct OrderCase {
  const char* name;
  bool streamingAtStart;
  bool connectionOpen;
  bool stopBeforeSend;  // stop() clears the flag while the half is being packed
  bool sendSucceeds;
  bool packed;
  int sends;
  size_t packetsSent;
  int driveChecks;
};

TEST_F(PackAndSendTest, SendCountAndDriveCheckFollowTheStreamState) {
  const OrderCase cases[] = {
      {"sent and counted, then the drive checked", true, true, false, true, true, 1, 1, 1},
      {"a failed send is not counted and skips the drive check", true, true, false, false, true, 1,
       0, 0},
      {"stopped while packing: not sent, drive still checked", true, true, true, true, true, 0, 0,
       1},
      {"not streaming: nothing at all", false, true, false, true, false, 0, 0, 0},
      {"connection closed: nothing at all", true, false, false, true, false, 0, 0, 0},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = Recorder{};
    recorder.sendResult = c.sendSucceeds;
    prepare(44100.0, 24, 64);
    Vantrel& d = object();
    d.session.packetsSent = 5;
    d.session.streaming.store(c.streamingAtStart);
    if (!c.connectionOpen) control::closeControlConnection(driver::process().connection);

    const bool packed = packCurrentHalf(d.session);
    if (packed) {
      if (c.stopBeforeSend) d.stop();
      sendPacked(d.session, kRecordingSteps);
    }
    EXPECT_EQ(packed, c.packed);
    EXPECT_EQ(static_cast<const uint8_t*>(d.session.packetBuffer)[0] != kUnwritten, c.packed);
    EXPECT_EQ(recorder.sends, c.sends);
    EXPECT_EQ(d.session.packetsSent, 5 + c.packetsSent);
    EXPECT_EQ(recorder.driveChecks, c.driveChecks);

    d.session.streaming.store(false);
    asioDriver->disposeBuffers();
  }
}

// Buffers of another shape than the stream packs (the rates between DSD
// buffers and a DSD stream give 1/32 of the words) are never read past.
TEST_F(PackAndSendTest, BuffersSmallerThanTheStreamAreNotPacked) {
  prepare(44100.0, 24, 64);
  Vantrel& d = object();
  d.session.config.framesPerHalf = 128;
  packAndSend(d.session, kRecordingSteps);
  EXPECT_EQ(recorder.sends, 0);
  EXPECT_EQ(recorder.driveChecks, 0);
  EXPECT_EQ(static_cast<const uint8_t*>(d.session.packetBuffer)[0], kUnwritten);
}

}  // namespace
}  // namespace tavro::stream
