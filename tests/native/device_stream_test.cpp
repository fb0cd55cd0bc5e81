// A host plays through the real driver to an in-process tavro-sink that plays
// to a sound card: our test card, which takes its samples at the pace of the
// clock and keeps every byte. What the card was given is checked against the
// test signal itself, not against what the sink says it sent.
#include <gmock/gmock.h>

#include <chrono>
#include <thread>
#include <vector>

#include "control/error_texts.h"
#include "raw_peer.h"
#include "signal/test_signal.h"
#include "sink/format/stream_format.h"
#include "sink/output/device_output.h"
#include "sound_card_fixture.h"
#include "stream_fixture.h"
#include "support/fault_relay.h"
#include "support/loopback_address.h"
#include "support/notification_spy.h"
#include "support/process_state.h"
#include "support/temp_dir.h"
#include "support/test_sound_card.h"

namespace tavro::testing {
namespace {

struct CardCase {
  const char* name;
  Wire wire;
  uint32_t wordLength;
  double rate;
  const char* formats;  // what the card takes
  const char* rates;
  DsdOutput dsd;
  DeviceSample expected;
};

void PrintTo(const CardCase& c, std::ostream* os) { *os << c.name; }

const CardCase kCardCases[] = {
    {"Pcm16", Wire::kTcp, 16, 44100, "S16_LE S32_LE", "44100", DsdOutput::kDop,
     DeviceSample::kS16Le},
    {"Pcm16PaddedIntoS32", Wire::kTcp, 16, 44100, "S32_LE", "44100", DsdOutput::kDop,
     DeviceSample::kS32Le},
    {"Pcm24OverUdp", Wire::kUdp, 24, 96000, "S24_3LE S32_LE", "96000", DsdOutput::kDop,
     DeviceSample::kS24_3Le},
    {"Pcm32OverRegisteredIo", Wire::kRio, 32, 192000, "S32_LE", "192000", DsdOutput::kDop,
     DeviceSample::kS32Le},
    {"DopPassedThrough", Wire::kTcp, 24, kDsd64, "S24_3LE DSD_U32_BE", "88200 176400",
     DsdOutput::kDop, DeviceSample::kS24_3Le},
    {"DopInS24In4", Wire::kUdp, 24, kDsd64, "S24_LE", "176400", DsdOutput::kAuto,
     DeviceSample::kS24Le},
    {"NativeU32BigEndian", Wire::kTcp, 24, kDsd64, "S24_3LE DSD_U32_BE", "88200 176400",
     DsdOutput::kAuto, DeviceSample::kDsdU32Be},
    {"NativeU32LittleEndian", Wire::kTcp, 24, kDsd64, "DSD_U32_LE", "88200", DsdOutput::kNative,
     DeviceSample::kDsdU32Le},
    {"NativeU16BigEndian", Wire::kUdp, 24, kDsd64, "DSD_U16_BE", "176400", DsdOutput::kNative,
     DeviceSample::kDsdU16Be},
    {"NativeU16LittleEndian", Wire::kTcp, 24, kDsd64, "DSD_U16_LE", "176400", DsdOutput::kNative,
     DeviceSample::kDsdU16Le},
    {"NativeU8", Wire::kTcp, 24, kDsd64, "DSD_U8", "352800", DsdOutput::kNative,
     DeviceSample::kDsdU8},
};

class CardBitExactTest : public SoundCardStreamTest,
                         public ::testing::WithParamInterface<CardCase> {};

TEST_P(CardBitExactTest, TheCardIsGivenEverySampleTheHostPlayedUnchanged) {
  const CardCase& c = GetParam();
  plugCard(c.formats, c.rates);
  useWire(c.wire);
  initAgainst(cardOptions(c.wordLength, c.dsd));
  const play::PlayResult played = playSignal(c.rate, 60);
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_FALSE(played.stalled);
  const sink::StreamReport r = report(1);
  EXPECT_EQ(r.deviceFormat, sink::sampleName(c.expected)) << sink::summaryLine(r);
  EXPECT_EQ(r.dsd, isDsdRate(c.rate) ? (sink::isNativeDsd(c.expected) ? "native" : "dop") : "-");
  EXPECT_EQ(r.underruns, 0u);
  EXPECT_GE(r.packets + 1, static_cast<uint64_t>(played.halves));
  // Over UDP a packet later than the wait the sink has learned is given up
  // and costs its slot, which a loaded machine makes happen now and then:
  // such a packet comes after all, so nothing was lost for good. The ticks
  // left unanswered when the driver stops play silence after the last packet.
  EXPECT_EQ(r.lost, r.overdue) << sink::summaryLine(r);
  if (c.wire == Wire::kTcp || r.overdue == 0) {
    EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  }

  const uint64_t slots = r.packets + r.lost + r.unanswered;
  const Bytes expected =
      expectedBytes(c.wordLength, isDsdRate(c.rate), c.expected, slots * r.packetFrames);
  const Slots found = checkSlots(card_->captured(kCard), expected, slots, isDsdRate(c.rate));
  EXPECT_EQ(found.silent, r.lost + r.unanswered) << sink::summaryLine(r);
  EXPECT_GE(found.silentAtTheEnd, r.unanswered);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CardBitExactTest, ::testing::ValuesIn(kCardCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A card that cannot play the stream as it is refuses it before it starts:
// the sink answers the announcement with the reason, the host hears it.
// alsa-lib's own messages reach the user only in the sink's lines.
struct RefusalCase {
  const char* name;
  uint32_t wordLength;
  const char* formats;
  const char* rates;
  bool busy;
  uintptr_t code;
  const char* device = kCard;
  const char* sinkLine = nullptr;  // one the sink must print
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class CardRefusalTest : public SoundCardStreamTest,
                        public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CardRefusalTest, TheHostIsToldWhyAndNoStreamStarts) {
  const RefusalCase& c = GetParam();
  plugCard(c.formats, c.rates);
  card_->busy(kCard, c.busy);
  NotificationSpy spy;
  HostileOptions options = cardOptions(c.wordLength);
  options.device = c.device;
  ::testing::internal::CaptureStderr();
  initAgainst(options);
  const play::PlayResult played = playSignal(44100, 4);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              ::testing::Not(::testing::HasSubstr("ALSA lib")));
  EXPECT_FALSE(played.started);
  EXPECT_EQ(played.error, control::errors::kNoResponse);
  EXPECT_THAT(spy.codes(), ::testing::Contains(c.code));
  const std::vector<std::string> received = peer->lines();
  EXPECT_THAT(received, ::testing::Contains("reply: ERROR " + std::to_string(c.code)));
  EXPECT_THAT(received, ::testing::Not(::testing::Contains("reply: +OK")));
  if (c.sinkLine != nullptr) {
    EXPECT_THAT(received, ::testing::Contains(c.sinkLine));
  }
  EXPECT_TRUE(card_->captured(kCard).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CardRefusalTest,
    ::testing::Values(RefusalCase{"Busy", 24, "S24_3LE", "44100", true, 1},
                      RefusalCase{"RateRefused", 24, "S24_3LE S32_LE", "48000 96000", false, 2},
                      RefusalCase{"NoFormatHoldsTheSamples", 32, "S16_LE S24_3LE", "44100", false,
                                  3},
                      RefusalCase{"NoSuchDevice", 24, "S24_3LE", "44100", false, 1, "tavro_nowhere",
                                  "refusing the stream with \"ERROR 1\": "
                                  "cannot open device tavro_nowhere: No such "
                                  "file or directory (alsa-lib: Unknown PCM "
                                  "tavro_nowhere)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The card's clock paces the stream: in steady play, packets per second are
// the card's rate over the packet's frames, as the sink's status lines show.
TEST_F(SoundCardStreamTest, TheCardsClockPacesTheStream) {
  plugCard("S24_3LE", "44100");
  HostileOptions options = cardOptions(24);
  options.statusSeconds = 1;
  initAgainst(options);
  const play::PlayResult played = playSignal(44100, 0, 3.6);
  ASSERT_TRUE(played.started) << played.error;
  const sink::StreamReport r = report(1);
  EXPECT_EQ(r.underruns, 0u);
  // "status: ... seconds=S packets=N ...", one a second.
  std::vector<std::pair<double, double>> samples;
  for (const std::string& line : peer->lines()) {
    double seconds = 0, packets = 0;
    if (std::sscanf(line.c_str(), "status: stream=%*d seconds=%lf packets=%lf", &seconds,
                    &packets) == 2) {
      samples.emplace_back(seconds, packets);
    }
  }
  ASSERT_GE(samples.size(), 3u);
  const auto& [t0, p0] = samples.front();
  const auto& [t1, p1] = samples.back();
  const double perSecond = (p1 - p0) / (t1 - t0);
  const double cardsPace = 44100.0 / r.packetFrames;
  EXPECT_NEAR(perSecond, cardsPace, cardsPace * 0.005);
}

// A stall longer than the card's buffer: the card runs dry, the sink counts
// it, starts the card again, and the stream goes on complete and in order.
TEST_F(SoundCardStreamTest, AnUnderrunIsCountedAndTheStreamRecoversBitExact) {
  plugCard("S24_3LE", "44100");
  initAgainst(cardOptions(24));
  std::thread staller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    card_->stall(kCard, 300);  // the card holds 16 packets of 4.4 ms
  });
  const play::PlayResult played = playSignal(44100, 200);
  staller.join();
  ASSERT_TRUE(played.started) << played.error;
  const sink::StreamReport r = report(1);
  EXPECT_GE(r.underruns, 1u) << sink::summaryLine(r);
  EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  const Bytes captured = card_->captured(kCard);
  const Bytes expected =
      expectedBytes(24, false, DeviceSample::kS24_3Le, r.packets * r.packetFrames);
  EXPECT_TRUE(captured == expected)
      << captured.size() << " bytes, " << expected.size() << " expected";
  EXPECT_THAT(peer->lines(), ::testing::Contains(::testing::StartsWith("underrun (at least ")));
}

// An unplugged card ends the stream: the host sees it end and is not hung;
// once the card is back, the next stream plays.
TEST_F(SoundCardStreamTest, AVanishedCardEndsTheStreamAndTheNextPlaysOnceItIsBack) {
  plugCard("S24_3LE", "44100");
  initAgainst(cardOptions(24));
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    card_->vanish(kCard);
  });
  const play::PlayResult first = playSignal(44100, 0, 10);
  unplug.join();
  ASSERT_TRUE(first.started) << first.error;
  EXPECT_TRUE(first.stalled);
  EXPECT_EQ(report(1).end, sink::StreamEnd::kDeviceGone);

  card_->comeBack(kCard);
  const play::PlayResult second = playSignal(44100, 40);
  ASSERT_TRUE(second.started) << second.error;
  EXPECT_TRUE(report(2).bitExact()) << sink::summaryLine(report(2));
}

// A player frozen with the card open to its stream (a PC asleep): the next
// player takes the card over, and the card is given its stream unchanged.
TEST_F(SoundCardStreamTest, TheNextPlayerTakesTheCardOverFromAFrozenOne) {
  plugCard("S24_3LE", "44100");
  initAgainst(cardOptions(24));
  const int frozen =
      frozenPlayer(address, "+ SampleRate 44100 Bits 24 PacketSize 192 DatagramSize 0");
  ASSERT_GE(frozen, 0);
  const play::PlayResult played = playSignal(44100, 60);
  EXPECT_TRUE(closesWithin(frozen, std::chrono::milliseconds(1000)));
  ::close(frozen);
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_EQ(report(1).end, sink::StreamEnd::kTakenOver);
  const sink::StreamReport r = report(2);
  EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  const Bytes captured = card_->captured(kCard);
  const Bytes expected =
      expectedBytes(24, false, DeviceSample::kS24_3Le, r.packets * r.packetFrames);
  EXPECT_TRUE(captured == expected)
      << captured.size() << " bytes, " << expected.size() << " expected";
}

// What a busy or wireless network does to the driver's datagrams. A lost
// packet is counted and silence (DSD silence in DoP's form for DSD) plays in
// its place, so the card keeps time; a copy, a late or an overtaken datagram
// is never played twice or out of its place; every packet that did arrive
// reaches the card unchanged, in its place.
struct NetworkCase {
  const char* name;
  Wire wire;
  double rate;
  RelayFaults faults;
  // The smallest buffers, where one packet lasts a millisecond: a loss must
  // cost its own packet and leave the card's buffer standing.
  uint32_t bufferIndex = kBufferIndex;
  uint32_t bufferPackets = 16;
  int64_t halves = 300;
};

void PrintTo(const NetworkCase& c, std::ostream* os) { *os << c.name; }

class CardNetworkTest : public SoundCardStreamTest,
                        public ::testing::WithParamInterface<NetworkCase> {};

TEST_P(CardNetworkTest, EveryPacketThatArrivesPlaysOnceInItsPlaceAndSilenceFillsTheLost) {
  const NetworkCase& c = GetParam();
  const bool dsd = isDsdRate(c.rate);
  plugCard("S24_3LE", dsd ? "176400" : "48000");
  useWire(c.wire);
  HostileOptions options = cardOptions(24);
  options.bufferIndex = c.bufferIndex;
  options.bufferPackets = c.bufferPackets;
  initThroughRelay(options, c.faults);
  const play::PlayResult played = playSignal(c.rate, c.halves);
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_FALSE(played.stalled);
  const sink::StreamReport r = report(1);
  relay_->stop();
  const uint64_t dropped = relay_->datagramsDropped();
  const uint64_t copies = relay_->datagramsDuplicated();
  // A packet later than the wait the sink learned is given up too, and
  // counted as overdue when it comes: a few on a loaded machine.
  ASSERT_GE(r.lost, r.overdue) << sink::summaryLine(r);
  EXPECT_EQ(c.faults.datagramLoss > 0, r.lost - r.overdue > 0) << sink::summaryLine(r);
  EXPECT_LE(r.overdue * 100, r.packets) << sink::summaryLine(r);
  EXPECT_EQ(c.faults.duplication > 0, copies > 0);
  EXPECT_LE(r.duplicates + r.unasked, copies) << sink::summaryLine(r);
  EXPECT_GE(r.duplicates + r.unasked + 2, copies) << sink::summaryLine(r);
  EXPECT_EQ(r.mismatched, 0u) << sink::summaryLine(r);
  EXPECT_EQ(r.wrongMarkers, 0u);
  EXPECT_EQ(r.malformed, 0u);
  // How many underruns a loss costs depends on how the machine schedules
  // the driver's thread as much as on the sink: tavro-loss-bench measures it
  // beside the earlier wait. Here only what must hold on any machine.

  const uint64_t slots = r.packets + r.lost + r.unanswered;
  const Bytes expected = expectedBytes(24, dsd, DeviceSample::kS24_3Le, slots * r.packetFrames);
  const Slots found = checkSlots(card_->captured(kCard), expected, slots, dsd);
  EXPECT_EQ(found.silent, r.lost + r.unanswered) << sink::summaryLine(r);
  EXPECT_GE(found.silentAtTheEnd, r.unanswered);
  // Each dropped datagram is a lost packet, and each copy is dropped; the
  // driver's last packet, dropped, cannot be told from its stop.
  EXPECT_LE(r.lost - r.overdue, dropped) << sink::summaryLine(r);
  EXPECT_GE(r.lost - r.overdue + 2, dropped) << sink::summaryLine(r);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CardNetworkTest,
    ::testing::Values(
        NetworkCase{"RandomLossOverUdp", Wire::kUdp, 48000, {.datagramLoss = 0.03}},
        NetworkCase{"RandomLossOfDopOverRegisteredIo", Wire::kRio, kDsd64, {.datagramLoss = 0.03}},
        NetworkCase{"LossInBurstsOfTen",
                    Wire::kRio,
                    kDsd64,
                    {.datagramLoss = 0.01, .lossBurst = 10, .seed = 7}},
        NetworkCase{"Duplication", Wire::kUdp, 48000, {.duplication = 0.2}},
        NetworkCase{"ReorderingAndJitter",
                    Wire::kUdp,
                    48000,
                    {.reordering = 0.05, .delayMs = 1, .jitterMs = 5}},
        NetworkCase{"HalfAPercentLossAtTheSmallestBuffer",
                    Wire::kUdp,
                    48000,
                    {.datagramLoss = 0.005, .seed = 11},
                    0,
                    32,
                    3000},
        NetworkCase{"TwoPercentLossAtTheSmallestBuffer",
                    Wire::kUdp,
                    48000,
                    {.datagramLoss = 0.02, .seed = 12},
                    0,
                    32,
                    3000},
        NetworkCase{"TwoPercentLossWithJitter",
                    Wire::kUdp,
                    48000,
                    {.datagramLoss = 0.02, .jitterMs = 2, .seed = 13},
                    2,
                    32,
                    1500}),
    [](const auto& info) { return std::string(info.param.name); });

// Over UDP packets come no faster than one per round trip: a round trip
// longer than a packet's period cannot keep the card fed, and the sink says
// so once, with the way out.
TEST_F(SoundCardStreamTest, ARoundTripLongerThanAPacketIsToldOnce) {
  plugCard("S24_3LE", "48000");
  useWire(Wire::kUdp);
  HostileOptions options = cardOptions(24);
  options.bufferIndex = 0;
  options.bufferPackets = 32;
  initThroughRelay(options, {.delayMs = 3});
  const play::PlayResult played = playSignal(48000, 400);
  ASSERT_TRUE(played.started) << played.error;
  report(1);
  const std::vector<std::string> lines = peer->lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("near or above a packet's period") !=
                                       std::string::npos &&
                                   line.find("a larger buffer size index") != std::string::npos;
                          }),
            1);
}

// Digital silence is packet after packet alike, as the network's copies
// are: each is held a moment for the packet that would follow a copy, and
// then played, so the silence plays whole and in time.
class Silence : public play::AudioSource {
 public:
  bool isDsd() const override { return false; }
  double nativeRate() const override { return 0; }
  void fill(uint32_t* left, uint32_t* right, int32_t words) override {
    std::fill_n(left, words, 0u);
    std::fill_n(right, words, 0u);
  }
  bool finished() const override { return false; }
  std::string describe() const override { return "silence"; }
};

TEST_F(SoundCardStreamTest, DigitalSilenceOverUdpPlaysWholeThoughEveryPacketIsAlike) {
  plugCard("S24_3LE", "48000");
  // Registered I/O's stop datagram is not silence: the last packet, held
  // when it comes, must still play as it was.
  useWire(Wire::kRio);
  HostileOptions options = cardOptions(24);
  options.verify = false;
  initAgainst(options);
  Silence silence;
  const play::PlayResult played = play::play(*driver, silence, 48000, 20, 300);
  ASSERT_TRUE(played.started) << played.error;
  const sink::StreamReport r = report(1);
  // A packet late enough on a loaded machine is given up, and comes after
  // all: its slot is silence too, and the next packet of silence, alike,
  // stands for it as a copy would.
  EXPECT_LE(r.lost, r.overdue + r.duplicates) << sink::summaryLine(r);
  EXPECT_LE(r.duplicates, r.lost);
  EXPECT_EQ(r.underruns, 0u);
  EXPECT_GE(r.packets + r.lost + 1, static_cast<uint64_t>(played.halves));
  const Bytes captured = card_->captured(kCard);
  EXPECT_EQ(captured.size(), (r.packets + r.lost + r.unanswered) * r.packetFrames * 6);
  EXPECT_TRUE(std::all_of(captured.begin(), captured.end(), [](uint8_t b) { return b == 0; }));
}

// The network stalls the driver's TCP stream, or resets the connection, or
// the streamer goes away. A stall the card's buffer covers is not heard; a
// longer one runs the card dry, counted, and the stream then goes on
// complete, however far past the driver's reply limit, which holds only at
// control exchanges. There a stall longer than the limit fails the start as
// a streamer that never answers does. A reset, or a streamer killed and
// started again, ends the stream, and the host's next start on the same
// driver object plays again.
enum class TcpFault { kShortStall, kLongStall, kReplyStall, kReset, kRestart, kCap };

struct TcpFaultCase {
  const char* name;
  TcpFault fault;
};

void PrintTo(const TcpFaultCase& c, std::ostream* os) { *os << c.name; }

class CardTcpFaultTest : public SoundCardStreamTest,
                         public ::testing::WithParamInterface<TcpFaultCase> {};

TEST_P(CardTcpFaultTest, TheCardHearsOnlyWhatItsBufferCannotCoverAndNothingIsLost) {
  const TcpFaultCase& c = GetParam();
  plugCard("S24_3LE", "44100");
  // Packets of 1536 frames, 34.8 ms: 16 of them, 557 ms, in the card; 4
  // under the cap, so that it runs dry again and again.
  const bool capped = c.fault == TcpFault::kCap;
  HostileOptions options = sinkOptions(24, 0, 6);
  options.device = kCard;
  options.bufferPackets = capped ? 4 : 16;
  RelayFaults faults;
  // Three quarters of the stream's 264,600 bytes a second.
  if (capped) faults.tcpBytesPerSecond = 200'000;
  // Stalls of 2 s stand for the 20 s ones past the driver's 10 s limit.
  const ShortReplyLimit replyLimit{1000};
  initThroughRelay(options, faults);
  if (c.fault == TcpFault::kReplyStall) {
    NotificationSpy spy;
    relay_->stallRepliesFor(2000);
    const play::PlayResult refused = playSignal(44100, 30);
    EXPECT_FALSE(refused.started);
    EXPECT_EQ(refused.error, control::errors::kNoResponse);
    EXPECT_TRUE(spy.codes().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const play::PlayResult again = playSignal(44100, 30);
    ASSERT_TRUE(again.started) << again.error;
    // The sink took the first announcement, but its answer came too late.
    EXPECT_TRUE(report(2).bitExact()) << sink::summaryLine(report(2));
    return;
  }
  std::thread fault([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    if (c.fault == TcpFault::kReset) {
      relay_->reset();
    } else if (c.fault == TcpFault::kRestart) {
      peer->stop();
      peer.reset();
      startPeer(sinkOptions_, false);
    } else if (!capped) {
      relay_->stallFor(c.fault == TcpFault::kShortStall ? 200 : 2000);
    }
  });
  const bool ends = c.fault == TcpFault::kReset || c.fault == TcpFault::kRestart;
  const play::PlayResult first = playSignal(44100, ends || capped ? 0 : 90, capped ? 8 : 10);
  fault.join();
  ASSERT_TRUE(first.started) << first.error;
  if (ends) {
    EXPECT_TRUE(first.stalled);
    EXPECT_FALSE(controlConnectionOpen());
    const play::PlayResult again = playSignal(44100, 30);
    ASSERT_TRUE(again.started) << again.error;
    const size_t number = c.fault == TcpFault::kRestart ? 1 : 2;
    EXPECT_TRUE(report(number).bitExact()) << sink::summaryLine(report(number));
    return;
  }
  const sink::StreamReport r = report(1);
  EXPECT_FALSE(first.stalled);
  // The host's stop cuts off the packet a capped link was still carrying.
  EXPECT_TRUE(capped ? r.mismatched == 0 : r.bitExact()) << sink::summaryLine(r);
  if (c.fault == TcpFault::kShortStall) {
    EXPECT_EQ(r.underruns, 0u) << sink::summaryLine(r);
  } else if (c.fault == TcpFault::kCap) {
    EXPECT_GE(r.underruns, 4u) << sink::summaryLine(r);
    EXPECT_THAT(peer->lines(),
                ::testing::Contains(::testing::HasSubstr("cannot carry this stream")));
  } else {
    EXPECT_GE(r.underruns, 1u) << sink::summaryLine(r);
  }
  const Bytes captured = card_->captured(kCard);
  EXPECT_TRUE(captured ==
              expectedBytes(24, false, DeviceSample::kS24_3Le, r.packets * r.packetFrames));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CardTcpFaultTest,
    ::testing::Values(TcpFaultCase{"StallShorterThanTheBuffer", TcpFault::kShortStall},
                      TcpFaultCase{"StallLongerThanTheBufferAndTheReplyLimit",
                                   TcpFault::kLongStall},
                      TcpFaultCase{"RepliesStalledPastTheReplyLimit", TcpFault::kReplyStall},
                      TcpFaultCase{"Reset", TcpFault::kReset},
                      TcpFaultCase{"StreamerKilledAndStartedAgain", TcpFault::kRestart},
                      TcpFaultCase{"CapBelowTheStreamsRate", TcpFault::kCap}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::testing
