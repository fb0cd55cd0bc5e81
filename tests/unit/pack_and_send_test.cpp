// One tick's packet through a session of the test's own: which half and
// which fields packing takes, and the order of sending, counting and the
// drive check, with the transport and the drive check replaced by recorders.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/control_connection.h"
#include "driver/buffer_size.h"
#include "platform/net.h"
#include "stream/data_transport.h"
#include "stream/dsd_rates.h"
#include "stream/host_buffers.h"
#include "stream/packing.h"
#include "stream/session.h"
#include "stream/stream_state.h"

namespace tavro::stream {
namespace {

constexpr uint8_t kUnwritten = 0xEE;
constexpr uint32_t kTransportBytes = 64;

struct Recorder {
  int sends = 0;
  int driveChecks = 0;
  bool sendResult = true;
  // The loop's script: what each receive returns, which send fails (from 1;
  // 0 for none), at which drive check the drive is gone, and a receive at
  // which a host's stop claims the end.
  std::vector<int32_t> received;
  size_t receives = 0;
  size_t failingSend = 0;
  int driveGoneAtCheck = 0;
  size_t stopAtReceive = SIZE_MAX;
  void (*onStop)() = nullptr;
  std::vector<std::vector<uint8_t>> packets;
  uint32_t packetBytes = 0;
} recorder;

// Records each packet; gives the receives and send results a test scripts.
class RecordingTransport final : public DataTransport {
 public:
  explicit RecordingTransport(const uint8_t* packet) : packet_(packet) {}
  void prime() noexcept override {}
  bool sendPacket() noexcept override {
    ++recorder.sends;
    recorder.packets.emplace_back(packet_, packet_ + recorder.packetBytes);
    if (static_cast<size_t>(recorder.sends) == recorder.failingSend) return false;
    return recorder.sendResult;
  }
  int32_t receiveTick(void* /*buffer*/) noexcept override {
    const size_t at = recorder.receives++;
    if (at == recorder.stopAtReceive && recorder.onStop) recorder.onStop();
    return at < recorder.received.size() ? recorder.received[at] : 0;
  }
  // As on the control connection: every two bytes are a tick.
  int32_t ticksIn(int32_t received) const noexcept override {
    return received % 2 == 0 ? received / 2 : 0;
  }
  bool wake() noexcept override { return true; }
  void sendStopSignal() noexcept override {}
  const char* name() const noexcept override { return "recorder"; }

 private:
  const uint8_t* packet_;
};

bool recordDriveCheck(const std::string& /*path*/) noexcept {
  ++recorder.driveChecks;
  return recorder.driveChecks != recorder.driveGoneAtCheck;
}

class PackAndSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = Recorder{};
    platform::netStartup();
  }
  void TearDown() override {
    session.reset();
    connection.close();
    platform::netCleanup();
  }

  // Both halves of both channels as createBuffers lays them out, filled with
  // different words, a packet buffer as start allocates it, and a session
  // of drive mode, whose drive check is the recorder's. Packing only asks
  // whether the control connection is open.
  void prepare(double rate, int32_t wireBits, int32_t bufferFrames,
               control::StreamerSettings settings = {}, int32_t framesPerHalf = 0) {
    session.reset();
    if (!connection.open()) connection.adopt(platform::openTcpSocket());
    ASSERT_TRUE(connection.open());
    host = std::make_unique<HostBuffers>(&callbacks, bufferWordsPerHalf(bufferFrames, rate));
    uint32_t seed = 7;
    for (int channel = 0; channel < 2; ++channel) {
      void* block = nullptr;
      ASSERT_TRUE(host->add(channel, &block));
      ASSERT_NE(block, nullptr);
      auto* words = static_cast<uint32_t*>(block);
      for (int32_t i = 0; i < 2 * host->wordsPerHalf(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        words[i] = seed;
      }
    }
    settings.driveMode = 1;
    StreamConfig config = streamConfig(settings, rate, bufferFrames, wireBits);
    if (framesPerHalf != 0) config.framesPerHalf = framesPerHalf;
    layout = wireLayout(wireBits, rate);
    recorder.packetBytes = packetBytes(layout, bufferFrames);
    ASSERT_GT(recorder.packetBytes, 0u);
    packet.assign(recorder.packetBytes + kTransportBytes, kUnwritten);
    transport = std::make_unique<RecordingTransport>(packet.data());
    state = std::make_unique<StreamState>();
    state->begin();
    session = std::make_unique<Session>(Session::Parts{config, *host, packet.data(), *transport,
                                                       *state, connection, position, drivePath,
                                                       &recordDriveCheck});
  }

  // What half `half` must become, from the scalar path with `adjust`.
  std::vector<uint8_t> expectedPacket(int half, PcmAdjust adjust) {
    const size_t first = static_cast<size_t>(half) * host->wordsPerHalf();
    std::vector<uint8_t> expected(recorder.packetBytes);
    packWith(PackPath::Scalar,
             {host->block(0) + first, host->block(1) + first,
              static_cast<uint32_t>(host->wordsPerHalf()), layout, adjust},
             expected.data());
    return expected;
  }

  bool transportBytesUntouched() {
    for (uint32_t i = 0; i < kTransportBytes; ++i) {
      if (packet[recorder.packetBytes + i] != kUnwritten) return false;
    }
    return true;
  }

  void packAndSend() {
    if (session->packCurrentHalf()) session->sendPacked();
  }

  static void TAVRO_CDECL countSwitch(int32_t /*half*/, asio::AsioBool /*direct*/) { ++switches; }
  static inline int switches = 0;
  asio::AsioCallbacks callbacks{&countSwitch, nullptr, nullptr, nullptr};

  control::Connection connection;
  std::unique_ptr<HostBuffers> host;
  std::vector<uint8_t> packet;
  std::unique_ptr<RecordingTransport> transport;
  std::unique_ptr<StreamState> state;
  std::atomic<double> position{0.0};
  const std::string drivePath = "X:\\";
  std::unique_ptr<Session> session;
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
      session->setCurrentHalf(half);
      packAndSend();
      ASSERT_EQ(recorder.sends, 1);
      EXPECT_EQ(recorder.packets[0],
                expectedPacket(half, c.pcm ? PcmAdjust{3, true} : PcmAdjust{}));
      if (c.pcm) {
        EXPECT_NE(recorder.packets[0], expectedPacket(half, {}))
            << "the adjustment must make a difference to be seen";
      }
      EXPECT_TRUE(transportBytesUntouched());
      EXPECT_EQ(session->packetsSent(), 1u);
      EXPECT_EQ(recorder.driveChecks, 1);
    }
  }
}

// Every DoP packet begins with a 0x05 frame and ends with a 0xFA frame, so the
// markers alternate across packets without any state kept between them.
TEST_F(PackAndSendTest, DopMarkersAlternateWithinAndAcrossPackets) {
  prepare(2822400.0, 24, driver::bufferSizeFor(0, 2822400.0));
  for (int half : {0, 1}) {
    session->setCurrentHalf(half);
    packAndSend();
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
  EXPECT_EQ(markers.size(), 2u * 2u * static_cast<size_t>(host->wordsPerHalf()));
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
    if (!c.streamingAtStart) state->stopTicks();
    if (!c.connectionOpen) connection.close();

    const bool packed = session->packCurrentHalf();
    if (packed) {
      // Stop clears the flag of the stream it ends; packing sees nothing else of it.
      if (c.stopBeforeSend) state->stopTicks();
      session->sendPacked();
    }
    EXPECT_EQ(packed, c.packed);
    EXPECT_EQ(packet[0] != kUnwritten, c.packed);
    EXPECT_EQ(recorder.sends, c.sends);
    EXPECT_EQ(session->packetsSent(), c.packetsSent);
    EXPECT_EQ(recorder.driveChecks, c.driveChecks);
  }
}

// Buffers of another shape than the stream packs (the rates between DSD
// buffers and a DSD stream give 1/32 of the words) are never read past.
TEST_F(PackAndSendTest, BuffersSmallerThanTheStreamAreNotPacked) {
  prepare(44100.0, 24, 64, {}, 128);
  packAndSend();
  EXPECT_EQ(recorder.sends, 0);
  EXPECT_EQ(recorder.driveChecks, 0);
  EXPECT_EQ(packet[0], kUnwritten);
}

// The loop ends with the reason it stopped for, and never receives again
// after a packet that failed or a drive that went: the owner closes the
// connection at once, so the streamer hears the end on the next tick's time.
struct LoopCase {
  const char* name;
  std::vector<int32_t> received;
  size_t failingSend;
  int driveGoneAtCheck;
  size_t stopAtReceive;
  EndReason reason;
  int switches;  // the first half, then one per tick that moved the host
  size_t receives;
  uint64_t packets;
  uint64_t ignored;
};

StreamState* stoppingState = nullptr;
void claimTheEnd() { stoppingState->claimEnd(); }

TEST_F(PackAndSendTest, TheLoopEndsWithItsReasonAndReceivesNoMoreAfterAFailure) {
  const LoopCase cases[] = {
      {"the receive ends", {2, 4, 0}, 0, 0, SIZE_MAX, EndReason::kTicksEnded, 4, 3, 4, 0},
      {"a send fails amid ticks that came together", {2, 6}, 3, 0, SIZE_MAX,
       EndReason::kSendFailed, 3, 2, 2, 2},
      {"the first half fails", {2}, 1, 0, SIZE_MAX, EndReason::kSendFailed, 1, 0, 0, 0},
      {"the drive goes", {2, 2, 2}, 0, 2, SIZE_MAX, EndReason::kDriveGone, 2, 1, 2, 0},
      {"a stop claims the end", {2, 2, 2}, 0, 0, 1, EndReason::kStopped, 2, 2, 2, 0},
      {"a receive of no tick", {3, 0}, 0, 0, SIZE_MAX, EndReason::kTicksEnded, 1, 2, 1, 1},
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    prepare(44100.0, 24, 64);
    recorder = Recorder{};
    recorder.packetBytes = packetBytes(layout, 64);
    recorder.received = c.received;
    recorder.failingSend = c.failingSend;
    recorder.driveGoneAtCheck = c.driveGoneAtCheck;
    recorder.stopAtReceive = c.stopAtReceive;
    stoppingState = state.get();
    recorder.onStop = &claimTheEnd;
    switches = 0;
    EXPECT_EQ(session->run(), c.reason);
    EXPECT_EQ(switches, c.switches);
    EXPECT_EQ(recorder.receives, c.receives);
    EXPECT_EQ(session->packetsSent(), c.packets);
    EXPECT_EQ(session->ticksIgnored(), c.ignored);
    EXPECT_TRUE(connection.open()) << "the loop closes nothing";
  }
}

}  // namespace
}  // namespace tavro::stream
