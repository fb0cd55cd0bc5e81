// A host plays through the real driver to tavro-sink over loopback, and the
// sink checks every sample it receives against what the host wrote: every
// transport, every wire layout, the rates at the edges of each, shifts, DSD
// as DoP, and the smallest and largest buffers. Then a streamer that dies,
// hangs or talks nonsense, and hosts that stop at awkward moments.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "stream_fixture.h"

namespace tavro::testing {
namespace {

using std::chrono::milliseconds;

struct BitExactCase {
  const char* name;
  Wire wire;
  uint32_t wordLength;
  uint32_t shift;
  uint32_t bufferIndex;
  std::vector<double> rates;
};

// What the sink must see: a 16-bit word length holds only where nothing is
// lost by it, and DSD always travels as DoP.
const char* expectedLayout(uint32_t wordLength, uint32_t shift, double rate) {
  if (isDsdRate(rate)) return "dop";
  if (wordLength == 32) return "pcm32";
  if (wordLength == 16 && shift == 0 && rate <= 50000.0) return "pcm16";
  return "pcm24";
}

const std::vector<double> kPcmRates = {44100, 48000, 96000, 192000, 768000};
const std::vector<double> kDsdRates = {2822400, 5644800, 11289600, 22579200};

const BitExactCase kBitExactCases[] = {
    {"Tcp16", Wire::kTcp, 16, 0, 0, {44100, 48000, 88200, 96000, 192000, 768000}},
    {"Tcp16Shifted", Wire::kTcp, 16, 1, 0, {44100, 192000}},
    {"Tcp24", Wire::kTcp, 24, 0, 0, kPcmRates},
    {"Tcp24Shifted", Wire::kTcp, 24, 1, 0, {48000, 768000}},
    {"Tcp32", Wire::kTcp, 32, 0, 0, kPcmRates},
    {"Tcp32Shifted", Wire::kTcp, 32, 1, 0, {96000}},
    {"TcpDsd", Wire::kTcp, 24, 0, 0, kDsdRates},
    {"TcpLargestBuffer", Wire::kTcp, 24, 0, 9, {44100, 22579200}},
    {"Udp16", Wire::kUdp, 16, 0, 0, {44100, 88200}},
    {"Udp24Shifted", Wire::kUdp, 24, 1, 0, {192000}},
    {"Udp32", Wire::kUdp, 32, 0, 0, {768000}},
    {"UdpDsd", Wire::kUdp, 24, 0, 0, {2822400, 22579200}},
    {"UdpLargestBuffer", Wire::kUdp, 32, 0, 9, {44100}},
    {"Rio16", Wire::kRio, 16, 0, 0, {48000}},
    {"Rio24Shifted", Wire::kRio, 24, 1, 0, {96000}},
    {"Rio32", Wire::kRio, 32, 0, 0, {768000}},
    {"RioDsd", Wire::kRio, 24, 0, 0, {2822400, 22579200}},
    {"RioLargestBuffer", Wire::kRio, 32, 0, 9, {44100}},
};

void PrintTo(const BitExactCase& c, std::ostream* os) { *os << c.name; }

class BitExactStreamTest : public StreamTest, public ::testing::WithParamInterface<BitExactCase> {};

TEST_P(BitExactStreamTest, EveryHalfTheHostFillsArrivesBitExact) {
  const BitExactCase& c = GetParam();
  useWire(c.wire);
  initAgainst(sinkOptions(c.wordLength, c.shift, c.bufferIndex));
  // The largest buffers last half a second each: fewer of them.
  const int64_t halves = c.bufferIndex == 9 ? 3 : 12;
  size_t stream = 0;
  for (double rate : c.rates) {
    SCOPED_TRACE(rate);
    const play::PlayResult played = playSignal(rate, halves);
    ASSERT_TRUE(played.started) << played.error;
    EXPECT_FALSE(played.stalled);
    EXPECT_GE(played.halves, halves);
    EXPECT_EQ(played.samplePosition, static_cast<double>(played.halves) * played.bufferFrames);
    const sink::StreamReport r = report(++stream);
    EXPECT_EQ(r.layout, expectedLayout(c.wordLength, c.shift, rate));
    EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
    // A stop that comes while the last half is still being packed skips its
    // send; no other half may go missing, and none may arrive cut short.
    EXPECT_GE(r.packets + 1, static_cast<uint64_t>(played.halves));
    EXPECT_EQ(r.transport, c.wire == Wire::kTcp ? "tcp" : c.wire == Wire::kUdp ? "udp" : "udp-rio");
    driver->disposeBuffers();
  }
}

INSTANTIATE_TEST_SUITE_P(AllWires, BitExactStreamTest, ::testing::ValuesIn(kBitExactCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A streamer that misbehaves mid-stream, on each wire: the host is never
// hung, stop ends cleanly, and nothing is left open.
enum class Trouble { kCloses, kFallsSilent, kJunkTicks, kTicksInPairs, kEveryLength, kFlood };

struct TroubleCase {
  const char* name;
  Wire wire;
  Trouble trouble;
  bool streamEndsByItself;  // the driver's thread ends before the host stops
};

const TroubleCase kTroubleCases[] = {
    {"TcpStreamerCloses", Wire::kTcp, Trouble::kCloses, true},
    {"UdpStreamerCloses", Wire::kUdp, Trouble::kCloses, false},
    {"RioStreamerCloses", Wire::kRio, Trouble::kCloses, false},
    {"TcpStreamerFallsSilent", Wire::kTcp, Trouble::kFallsSilent, false},
    {"RioStreamerFallsSilent", Wire::kRio, Trouble::kFallsSilent, true},
    {"TcpJunkTicks", Wire::kTcp, Trouble::kJunkTicks, false},
    {"UdpJunkTicks", Wire::kUdp, Trouble::kJunkTicks, false},
    {"RioJunkTicks", Wire::kRio, Trouble::kJunkTicks, false},
    // Two ticks in one TCP receive, as when the driver's thread was held up.
    {"TcpTicksInPairs", Wire::kTcp, Trouble::kTicksInPairs, true},
    // Ticks of every length from 0 to 64 bytes; an empty datagram reads as
    // the end of the stream, as a closed socket does.
    {"TcpTicksOfEveryLength", Wire::kTcp, Trouble::kEveryLength, true},
    {"UdpTicksOfEveryLength", Wire::kUdp, Trouble::kEveryLength, false},
    {"RioTicksOfEveryLength", Wire::kRio, Trouble::kEveryLength, false},
    // Ticks far faster than any host fills buffers.
    {"TcpFlood", Wire::kTcp, Trouble::kFlood, true},
    {"UdpFlood", Wire::kUdp, Trouble::kFlood, false},
    {"RioFlood", Wire::kRio, Trouble::kFlood, false},
};

void PrintTo(const TroubleCase& c, std::ostream* os) { *os << c.name; }

class TroubledStreamTest : public StreamTest, public ::testing::WithParamInterface<TroubleCase> {};

TEST_P(TroubledStreamTest, HostStopsCleanlyWhateverTheStreamerDoes) {
  const TroubleCase& c = GetParam();
  useWire(c.wire);
  // Junk ticks a few tens of milliseconds apart: over TCP two of them read
  // together would make an even count, which is ticks.
  HostileOptions options = sinkOptions(24, 0, c.trouble == Trouble::kJunkTicks ? 6 : 0);
  options.tickLimit = c.trouble == Trouble::kJunkTicks     ? 0
                      : c.trouble == Trouble::kEveryLength ? 130
                      : c.trouble == Trouble::kFlood       ? 2000
                                                           : 5;
  options.tickStyle = c.trouble == Trouble::kEveryLength ? TickStyle::kEveryLength
                      : c.trouble == Trouble::kFlood     ? TickStyle::kFlood
                                                         : TickStyle::kPaced;
  options.silentAtLimit = c.trouble == Trouble::kFallsSilent;
  options.tickBytes = c.trouble == Trouble::kJunkTicks      ? 3
                      : c.trouble == Trouble::kTicksInPairs ? 4
                                                            : 2;
  initAgainst(options);

  // The player gives up two seconds after the last buffer switch.
  const play::PlayResult played = playSignal(48000, 0, 4);
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_TRUE(played.stalled);
  if (c.trouble == Trouble::kJunkTicks) {
    // Only the switch the stream starts with: no junk tick is a tick.
    EXPECT_EQ(played.halves, 1);
  } else if (c.trouble == Trouble::kTicksInPairs) {
    EXPECT_EQ(played.halves, 11);  // the first, then two per receive
  } else if (c.trouble == Trouble::kEveryLength) {
    // A datagram's length is kept: the 2-byte one is the only tick before
    // the empty one. A byte stream keeps no lengths, so TCP has no count.
    if (c.wire != Wire::kTcp) {
      EXPECT_EQ(played.halves, 2);
    }
  } else if (c.trouble == Trouble::kFlood) {
    EXPECT_GT(played.halves, 100);
    // However fast the ticks, what arrives is the host's audio, unharmed.
    const sink::StreamReport flooded = report(1);
    EXPECT_GT(flooded.packets, 100u);
    EXPECT_EQ(flooded.mismatched, 0u);
    EXPECT_EQ(flooded.malformed, 0u);
  } else {
    EXPECT_EQ(played.halves, 6);  // the first, then one per tick
  }
  if (c.streamEndsByItself) {
    EXPECT_FALSE(controlConnectionOpen());
  }
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  EXPECT_FALSE(controlConnectionOpen());
}

INSTANTIATE_TEST_SUITE_P(AllWires, TroubledStreamTest, ::testing::ValuesIn(kTroubleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Hosts call in their own order and from their own threads.
class HostOrderTest : public StreamTest {};

// Refusals start can make without the streamer: the streamer is told
// nothing, so it never waits for a stream that will not come, and nothing is
// opened or left behind; the connection stays as init left it.
enum class Unready { kNoBuffers, kDsdRateGap, kBuffersOfAnotherRate };

struct RefusalCase {
  const char* name;
  Unready unready;
  const char* text;  // null: errorText unchanged
};

class StartRefusalTest : public StreamTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(StartRefusalTest, SendsNothingToTheStreamerAndOpensNothing) {
  const RefusalCase& c = GetParam();
  useWire(Wire::kUdp);
  initAgainst(sinkOptions(24, 0, 0));
  switch (c.unready) {
    case Unready::kNoBuffers:
      break;
    case Unready::kDsdRateGap:
      ASSERT_EQ(driver->setSampleRate(2048000.0), asio::kAseOk);
      createSilentBuffers();
      break;
    case Unready::kBuffersOfAnotherRate:
      createSilentBuffers();
      ASSERT_EQ(driver->setSampleRate(96000.0), asio::kAseOk);
      {
        int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
        driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
      }
      break;
  }
  const size_t framesBefore = peer->received().size();
  const std::string textBefore = errorText();
  const uint32_t allocationsBefore = platform::callCount(platform::Call::VirtualAlloc);

  EXPECT_EQ(driver->start(), asio::kAseNotPresent);
  EXPECT_EQ(errorText(), c.text != nullptr ? c.text : textBefore);
  EXPECT_TRUE(controlConnectionOpen());
  EXPECT_EQ(peer->received().size(), framesBefore) << "the streamer heard of a stream";
  EXPECT_FALSE(dataSocketOpen());
  EXPECT_TRUE(streamThreadGone());
  EXPECT_EQ(platform::callCount(platform::Call::VirtualAlloc), allocationsBefore);
  EXPECT_EQ(platform::processPriorityClass(), platform::kNormalPriorityClass);
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  EXPECT_TRUE(peer->reports().empty());
}

const RefusalCase kRefusalCases[] = {
    {"NoBuffersAndNoCallbacks", Unready::kNoBuffers, nullptr},
    {"RateBetweenDsdBuffersAndDsdStreams", Unready::kDsdRateGap,
     "Sample rate not supported by TAVROStreamer"},
    {"BuffersMadeForAnotherRate", Unready::kBuffersOfAnotherRate,
     "TAVRODriver buffers do not match the buffer size"},
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Table, StartRefusalTest, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostOrderTest, StopFromAnotherThreadAndTwiceEndsTheStreamOnce) {
  initAgainst(sinkOptions(24, 0, 0));
  createSilentBuffers();
  ASSERT_EQ(driver->start(), asio::kAseOk);
  // A second start while it runs is refused, replacing nothing.
  EXPECT_EQ(driver->start(), asio::kAseNotPresent);
  EXPECT_STREQ(errorText().c_str(), "TAVRODriver is already streaming: stop first");
  std::this_thread::sleep_for(milliseconds(50));
  std::thread other([&] { EXPECT_EQ(driver->stop(), asio::kAseOk); });
  other.join();
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  EXPECT_EQ(report(1).end, sink::StreamEnd::kDriver);
  EXPECT_EQ(peer->reports().size(), 1u);
}

// What a host may ask of its own running stream: a position stamped by a
// clock that never runs backwards; and what it may not do: replace the
// buffers the streaming thread reads (that would hand it released memory).
TEST_F(HostOrderTest, WhileAStreamRunsThePositionIsStampedAndTheBuffersStay) {
  initAgainst(sinkOptions(24, 0, 0));
  createSilentBuffers();
  ASSERT_EQ(driver->start(), asio::kAseOk);
  asio::AsioSamples position{};
  asio::AsioTimeStamp stamp{};
  const uint64_t before = platform::monotonicNanoseconds();
  driver->getSamplePosition(&position, &stamp);
  const uint64_t after = platform::monotonicNanoseconds();
  const uint64_t stamped = (static_cast<uint64_t>(stamp.hi) << 32) | stamp.lo;
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
  {
    // An unreadable clock leaves the host's stamp alone rather than report 0.
    platform::ScopedFault noClock(platform::Call::QueryPerformanceCounter);
    asio::AsioTimeStamp untouched{0x1111, 0x2222};
    driver->getSamplePosition(&position, &untouched);
    EXPECT_EQ(untouched.hi, 0x1111u);
    EXPECT_EQ(untouched.lo, 0x2222u);
  }

  static asio::AsioCallbacks callbacks{&ignoreBufferSwitch, nullptr, nullptr, nullptr};
  asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
  const uint32_t freedBefore = platform::callCount(platform::Call::VirtualFree);
  EXPECT_EQ(driver->createBuffers(infos, 2, 48, &callbacks), asio::kAseInvalidMode);
  EXPECT_EQ(platform::callCount(platform::Call::VirtualFree), freedBefore);
  EXPECT_EQ(driver->stop(), asio::kAseOk);
  EXPECT_EQ(report(1).end, sink::StreamEnd::kDriver);
  EXPECT_EQ(driver->createBuffers(infos, 2, 48, &callbacks), asio::kAseOk);
}

TEST_F(HostOrderTest, ASecondDriverObjectEndsTheRunningStream) {
  useWire(Wire::kUdp);
  initAgainst(sinkOptions(24, 0, 0));
  createSilentBuffers();
  ASSERT_EQ(driver->start(), asio::kAseOk);
  std::this_thread::sleep_for(milliseconds(50));

  asio::IAsio* second = createDriver();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(streamThreadGone());
  EXPECT_EQ(report(1).end, sink::StreamEnd::kDriver);
  EXPECT_EQ(second->Release(), 0u);
  EXPECT_EQ(driver->stop(), asio::kAseOk);
}

// Other host threads ask and change what a host may ask and change at any
// moment while the stream plays: the running stream keeps the rate and the
// buffer size it started with (a new rate applies at the next start), and
// nothing is shared unguarded (ThreadSanitizer runs this too).
TEST_F(HostOrderTest, HostThreadsChangingTheRateMidStreamLeaveTheStreamAsItStarted) {
  initAgainst(sinkOptions(24, 0, 6));
  std::atomic<bool> playing{true};
  std::atomic<int> calls{0};
  const auto meddle = [&](double otherRate) {
    // Only once the stream runs, so that the host's own setup stays its own.
    while (playing.load()) {
      asio::AsioSamples position{};
      asio::AsioTimeStamp stamp{};
      driver->getSamplePosition(&position, &stamp);
      if (position.lo != 0) break;
      std::this_thread::yield();
    }
    while (playing.load()) {
      int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0, input = 0, output = 0;
      asio::AsioSamples position{};
      asio::AsioTimeStamp stamp{};
      driver->setSampleRate(otherRate);
      driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
      driver->getSamplePosition(&position, &stamp);
      driver->getLatencies(&input, &output);
      driver->setSampleRate(44100.0);
      calls.fetch_add(1);
    }
  };
  std::thread first(meddle, 96000.0);
  std::thread second(meddle, 2822400.0);
  const play::PlayResult played = playSignal(44100.0, 12);
  playing.store(false);
  first.join();
  second.join();

  ASSERT_TRUE(played.started) << played.error;
  EXPECT_GT(calls.load(), 0) << "nothing meddled while the stream ran";
  const sink::StreamReport r = report(1);
  EXPECT_EQ(r.rate, 44100u);
  EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  EXPECT_GE(r.packets + 1, static_cast<uint64_t>(played.halves));
}

// The host's stop and the stream's own end meeting at the claim to end it:
// the stop is held right after it has read the claim, and the streamer
// closes, which ends the stream by itself, before the stop goes on. Either
// side may wind the stream up, but only one of them.
struct ClaimMeeting {
  std::atomic<std::thread::id> holdThread{};
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
} meeting;

void holdTheStopAtTheClaim() noexcept {
  if (std::this_thread::get_id() != meeting.holdThread.load() || meeting.held.exchange(true))
    return;
  for (int waited = 0; !meeting.release.load() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(milliseconds(1));
  }
}

TEST_F(HostOrderTest, StopAndTheStreamsOwnEndMeetingAtTheClaimWindTheStreamUpOnce) {
  initAgainst(sinkOptions(24, 0, 0));
  createSilentBuffers();
  ASSERT_EQ(driver->start(), asio::kAseOk);
  std::this_thread::sleep_for(milliseconds(20));
  // Each wind-up puts the process's priority class back once.
  const uint32_t priorityChangesBefore = platform::callCount(platform::Call::SetPriorityClass);

  stream::setEndFlagSeam(&holdTheStopAtTheClaim);
  std::thread stopper([&] {
    meeting.holdThread.store(std::this_thread::get_id());
    EXPECT_EQ(driver->stop(), asio::kAseOk);
  });
  for (int waited = 0; !meeting.held.load() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_TRUE(meeting.held.load()) << "the stop never reached the claim";
  peer->stop();
  std::this_thread::sleep_for(milliseconds(200));
  meeting.release.store(true);
  stopper.join();
  stream::setEndFlagSeam(nullptr);

  EXPECT_EQ(platform::callCount(platform::Call::SetPriorityClass) - priorityChangesBefore, 1u);
  EXPECT_TRUE(streamThreadGone());
}

// stop racing the streaming thread's own end, many times over.
TEST_F(HostOrderTest, StopRacingAStreamThatEndsByItselfNeverHangsOrLeaks) {
  HostileOptions options = sinkOptions(24, 0, 0);
  options.tickLimit = 2;
  initAgainst(options);
  for (int round = 0; round < 20; ++round) {
    createSilentBuffers();
    ASSERT_EQ(driver->start(), asio::kAseOk) << errorText();
    // Around the moment the sink closes after its two ticks (1 ms each at 48 frames).
    std::this_thread::sleep_for(std::chrono::microseconds(500 * (round % 8)));
    EXPECT_EQ(driver->stop(), asio::kAseOk);
    EXPECT_TRUE(streamThreadGone());
    ASSERT_EQ(driver->disposeBuffers(), asio::kAseOk);
  }
}

}  // namespace
}  // namespace tavro::testing

namespace tavro::testing {
namespace {

// What start leaves behind when one of its steps fails: the result, the
// text, the notification, the control connection, and no thread.
struct StartFailure {
  const char* name;
  Wire wire;
  platform::Call call;  // the platform call that fails, or Count for none
  int refuse;           // the streamer answers the announcement "ERROR n"
  const char* text;     // null: errorText unchanged
  std::vector<uintptr_t> notifications;
  bool controlOpenAfter;
};

void PrintTo(const StartFailure& c, std::ostream* os) { *os << c.name; }

const StartFailure kStartFailures[] = {
    {"ControlConnectionCannotReopen",
     Wire::kTcp,
     platform::Call::connect,
     0,
     "Unable to connect to TAVROStreamer: Is server running?",
     {20},
     false},
    {"PacketBufferNotAllocated", Wire::kTcp, platform::Call::VirtualAlloc, 0, nullptr, {30}, false},
    {"DataSocketNotCreated", Wire::kUdp, platform::Call::WSASocketA, 0, nullptr, {20}, false},
    {"AnnouncementNotSent",
     Wire::kTcp,
     platform::Call::send,
     0,
     "Unable to send data to TAVROStreamer: Is server running?",
     {},
     false},
    {"AnnouncementRefused",
     Wire::kUdp,
     platform::Call::Count,
     2,
     "Error receiving response from TAVROStreamer",
     {2},
     false},
    {"NoStreamingThread",
     Wire::kRio,
     platform::Call::CreateThread,
     0,
     "TAVRODriver could not start its streaming thread",
     {30},
     false},
};

class StartFailureTest : public StreamTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, LeavesWhatTheStepSaysAndNoStream) {
  const StartFailure& c = GetParam();
  useWire(c.wire);
  HostileOptions options = sinkOptions(24, 0, 0);
  options.refuse = c.refuse;
  initAgainst(options);
  createSilentBuffers();
  // The reopening case begins with the connection already gone.
  if (c.call == platform::Call::connect) closeControlConnection();
  const std::string textBefore = errorText();
  std::optional<platform::ScopedFault> fault;
  if (c.call != platform::Call::Count) fault.emplace(c.call);
  if (c.call == platform::Call::VirtualAlloc) failedAllocations = 1;
  EXPECT_EQ(driver->start(), asio::kAseNotPresent);
  fault.reset();
  EXPECT_EQ(errorText(), c.text != nullptr ? c.text : textBefore);
  EXPECT_EQ(spy.codes(), c.notifications);
  EXPECT_EQ(controlConnectionOpen(), c.controlOpenAfter);
  EXPECT_FALSE(dataSocketOpen());
  asio::AsioSamples position{};
  asio::AsioTimeStamp stamp{0x1111, 0x2222};
  driver->getSamplePosition(&position, &stamp);
  EXPECT_EQ(stamp.lo, 0x2222u) << "a time stamp: the driver thinks it streams";
  EXPECT_TRUE(streamThreadGone());
  EXPECT_EQ(platform::processPriorityClass(), platform::kNormalPriorityClass);
}

INSTANTIATE_TEST_SUITE_P(Table, StartFailureTest, ::testing::ValuesIn(kStartFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::testing
