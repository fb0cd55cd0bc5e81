// One tick's packet through a session of the test's own: which half and
// which fields packing takes, and the order of sending, counting and the
// drive check, with the send step and the drive check replaced by recorders.
#include "stream/pack_and_send.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "control/control_connection.h"
#include "driver/buffer_size.h"
#include "platform/memory.h"
#include "platform/net.h"
#include "stream/dsd_rates.h"
#include "stream/packing.h"
#include "stream/stream_control.h"

namespace tavro::stream {
namespace {

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

class PackAndSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = Recorder{};
    platform::netStartup();
    session.connection = &connection;
    session.slot = &slot;
  }
  void TearDown() override {
    control::closeControlConnection(connection);
    platform::freePages(session.packetBuffer);
    platform::netCleanup();
  }

  // Both halves of both channels as createBuffers lays them out, filled with
  // different words, and a packet buffer as start allocates it. Packing only
  // asks whether the control connection is open.
  void prepare(double rate, int32_t wireBits, int32_t bufferFrames,
               control::StreamerSettings settings = {}) {
    if (!connection.open()) connection.socket.store(platform::openTcpSocket());
    ASSERT_TRUE(connection.open());
    session.wordsPerHalf = bufferWordsPerHalf(bufferFrames, rate);
    uint32_t seed = 7;
    for (int channel = 0; channel < 2; ++channel) {
      buffers[channel].resize(2 * static_cast<size_t>(session.wordsPerHalf));
      for (uint32_t& word : buffers[channel]) {
        seed = seed * 1664525u + 1013904223u;
        word = seed;
      }
      session.outputs[channel] = buffers[channel].data();
    }
    session.config = streamConfig(settings, rate, bufferFrames, wireBits);
    layout = wireLayout(wireBits, rate);
    recorder.packetBytes = packetBytes(layout, bufferFrames);
    ASSERT_GT(recorder.packetBytes, 0u);
    platform::freePages(session.packetBuffer);
    session.packetBuffer = platform::allocatePages(recorder.packetBytes + kTransportBytes);
    ASSERT_NE(session.packetBuffer, nullptr);
    std::memset(session.packetBuffer, kUnwritten, recorder.packetBytes + kTransportBytes);
    session.packetsSent = 0;
    session.streaming.store(true);
  }

  // What half `half` must become, from the scalar path with `adjust`.
  std::vector<uint8_t> expectedPacket(int half, PcmAdjust adjust) {
    const size_t first = static_cast<size_t>(half) * session.wordsPerHalf;
    std::vector<uint8_t> packet(recorder.packetBytes);
    packWith(PackPath::Scalar,
             {buffers[0].data() + first, buffers[1].data() + first,
              static_cast<uint32_t>(session.wordsPerHalf), layout, adjust},
             packet.data());
    return packet;
  }

  bool transportBytesUntouched() {
    const auto* tail = static_cast<const uint8_t*>(session.packetBuffer) + recorder.packetBytes;
    for (uint32_t i = 0; i < kTransportBytes; ++i) {
      if (tail[i] != kUnwritten) return false;
    }
    return true;
  }

  control::Connection connection;
  StreamState slot;
  Session session;
  std::vector<uint32_t> buffers[2];
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
      session.currentHalf = half;
      packAndSend(session, kRecordingSteps);
      ASSERT_EQ(recorder.sends, 1);
      EXPECT_EQ(recorder.packets[0],
                expectedPacket(half, c.pcm ? PcmAdjust{3, true} : PcmAdjust{}));
      if (c.pcm) {
        EXPECT_NE(recorder.packets[0], expectedPacket(half, {}))
            << "the adjustment must make a difference to be seen";
      }
      EXPECT_TRUE(transportBytesUntouched());
      EXPECT_EQ(session.packetsSent, 1u);
      EXPECT_EQ(recorder.driveChecks, 1);
    }
  }
}

// Every DoP packet begins with a 0x05 frame and ends with a 0xFA frame, so the
// markers alternate across packets without any state kept between them.
TEST_F(PackAndSendTest, DopMarkersAlternateWithinAndAcrossPackets) {
  prepare(2822400.0, 24, driver::bufferSizeFor(0, 2822400.0));
  for (int half : {0, 1}) {
    session.currentHalf = half;
    packAndSend(session, kRecordingSteps);
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
  EXPECT_EQ(markers.size(), 2u * 2u * static_cast<size_t>(session.wordsPerHalf));
  for (size_t i = 0; i < markers.size(); ++i) {
    ASSERT_EQ(markers[i], i % 2 == 0 ? 0x05 : 0xFA) << "DoP frame " << i;
  }
}

struct OrderCase {
  const char* name;
  bool streamingAtStart;
  bool connectionOpen;
  bool stopBeforeSend;  // a stop clears the flag while the half is being packed
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
    session.packetsSent = 5;
    session.streaming.store(c.streamingAtStart);
    if (!c.connectionOpen) control::closeControlConnection(connection);

    const bool packed = packCurrentHalf(session);
    if (packed) {
      // Stop clears the flag of the session it ends; packing sees nothing else of it.
      if (c.stopBeforeSend) session.streaming.store(false);
      sendPacked(session, kRecordingSteps);
    }
    EXPECT_EQ(packed, c.packed);
    EXPECT_EQ(static_cast<const uint8_t*>(session.packetBuffer)[0] != kUnwritten, c.packed);
    EXPECT_EQ(recorder.sends, c.sends);
    EXPECT_EQ(session.packetsSent, 5 + c.packetsSent);
    EXPECT_EQ(recorder.driveChecks, c.driveChecks);
  }
}

// Buffers of another shape than the stream packs (the rates between DSD
// buffers and a DSD stream give 1/32 of the words) are never read past.
TEST_F(PackAndSendTest, BuffersSmallerThanTheStreamAreNotPacked) {
  prepare(44100.0, 24, 64);
  session.config.framesPerHalf = 128;
  packAndSend(session, kRecordingSteps);
  EXPECT_EQ(recorder.sends, 0);
  EXPECT_EQ(recorder.driveChecks, 0);
  EXPECT_EQ(static_cast<const uint8_t*>(session.packetBuffer)[0], kUnwritten);
}

}  // namespace
}  // namespace tavro::stream
