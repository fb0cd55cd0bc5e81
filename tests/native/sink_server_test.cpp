// tavro-sink as a server on a network it shares with phones, scanners and
// frozen PCs: whatever other peers do before or during a player's stream,
// the player's init succeeds and its stream arrives bit-exact; the newest
// player takes over a stream (or is refused with --no-takeover); and only
// the networks allowed may play.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fake_stream_driver.h"
#include "raw_peer.h"
#include "sink/app/sink_arguments.h"
#include "sink/network/text16.h"
#include "stream_fixture.h"
#include "support/loopback_address.h"

namespace tavro::testing {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kExchangeLimit{500};
constexpr int kFlood = 200;

bool waitForLine(const sink::SinkPeer& peer, const std::string& part, milliseconds limit) {
  const auto until = Clock::now() + limit;
  do {
    for (const std::string& line : peer.lines()) {
      if (line.find(part) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(milliseconds(10));
  } while (Clock::now() < until);
  return false;
}

const char kGreeting[] = "TAVROHello";
const char kValidAnnouncement[] = "+ SampleRate 44100 Bits 24 PacketSize 256 DatagramSize 0";

enum class Hostility {
  kIdle,                 // connects and sends nothing, as a port scanner does
  kJunkFrame,            // a whole frame of nonsense, then silence
  kHalfFrame,            // 500 bytes of a frame, then silence
  kAbsurdAnnouncements,  // a peer per announcement no driver sends
  kFlood,                // 200 connections at once, left open
  kStrangerDatagrams,    // datagrams from another address while the stream plays
};

struct HostilePeerCase {
  const char* name;
  Hostility hostility;
  Wire wire = Wire::kTcp;
  const char* sinkSays = nullptr;  // a line the sink prints about the peer
  size_t streamsBefore = 0;        // the peer's own streams, before the player's
};

void PrintTo(const HostilePeerCase& c, std::ostream* os) { *os << c.name; }

const HostilePeerCase kHostilePeers[] = {
    {"Idle", Hostility::kIdle, Wire::kTcp, "no greeting within 500 ms"},
    {"JunkFrame", Hostility::kJunkFrame, Wire::kTcp, "no greeting within 500 ms"},
    {"HalfFrame", Hostility::kHalfFrame, Wire::kTcp, "half a frame (500 of 1024 bytes) in 500 ms"},
    {"AbsurdAnnouncements", Hostility::kAbsurdAnnouncements, Wire::kUdp,
     "announcement not understood", 1},
    {"FloodOfConnections", Hostility::kFlood, Wire::kTcp, "16 connections wait"},
    {"StrangerDatagramsMidStream", Hostility::kStrangerDatagrams, Wire::kUdp, nullptr},
};

struct Absurd {
  const char* announcement;
  const char* reply;  // null: any reply, as long as one comes
};

const Absurd kAbsurdAnnouncements[] = {
    {"+ SampleRate 0 Bits 24 PacketSize 256 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate 1000000000 Bits 24 PacketSize 256 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate 44100 Bits 24 PacketSize 0 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate 44100 Bits 24 PacketSize 2147483648 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate 44100 Bits 24 PacketSize 256 DatagramSize 3072", "ERROR 3"},
    {"+ SampleRate 44100 Bits 20 PacketSize 256 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate -44100 Bits 24 PacketSize 256 DatagramSize 768", "ERROR 3"},
    {"+ SampleRate 44100 Bits 24 PacketSize 256", "ERROR 3"},
    // A DSD rate at 16 bits is a format the checking sink can take; what
    // matters is that the player after it plays.
    {"+ SampleRate 2822400 Bits 16 PacketSize 2048 DatagramSize 1024", nullptr},
};

class HostilePeerTest : public StreamTest, public ::testing::WithParamInterface<HostilePeerCase> {
 protected:
  void TearDown() override {
    stranger.store(false);
    if (strangerThread.joinable()) strangerThread.join();
    for (const int fd : hostiles) ::close(fd);
    hostiles.clear();
    StreamTest::TearDown();
  }

  void startSink(bool noTakeover = false) {
    HostileOptions options = sinkOptions(24, 0, 6);
    options.exchangeLimit = kExchangeLimit;
    options.noTakeover = noTakeover;
    startPeer(std::move(options));
    setSetting(control::kSinglePcValue, "0");
    setSetting(control::kHostValue, address);
  }

  void keep(int fd) {
    ASSERT_GE(fd, 0);
    hostiles.push_back(fd);
  }

  void misbehave(Hostility hostility) {
    switch (hostility) {
      case Hostility::kIdle:
        keep(connectToSink(address));
        break;
      case Hostility::kJunkFrame: {
        keep(connectToSink(address));
        std::string junk(sink::kFrameUnits - 1, 'j');
        ASSERT_TRUE(sendFrame(hostiles.back(), junk));
        EXPECT_EQ(readReply(hostiles.back()), "ERROR unknown request");
        break;
      }
      case Hostility::kHalfFrame: {
        keep(connectToSink(address));
        const std::vector<uint8_t> half(500, 0x41);
        ASSERT_EQ(::send(hostiles.back(), half.data(), half.size(), MSG_NOSIGNAL), 500);
        break;
      }
      case Hostility::kAbsurdAnnouncements:
        for (const Absurd& absurd : kAbsurdAnnouncements) {
          SCOPED_TRACE(absurd.announcement);
          keep(connectToSink(address));
          ASSERT_TRUE(sendFrame(hostiles.back(), kGreeting));
          EXPECT_THAT(readReply(hostiles.back()), HasSubstr("OK "));
          ASSERT_TRUE(sendFrame(hostiles.back(), absurd.announcement));
          const std::string reply = readReply(hostiles.back());
          if (absurd.reply != nullptr) {
            EXPECT_EQ(reply, absurd.reply);
          } else {
            EXPECT_FALSE(reply.empty());
          }
        }
        break;
      case Hostility::kFlood: {
        const int before = openDescriptors();
        for (int i = 0; i < kFlood; ++i) keep(connectToSink(address));
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (peer->accepted() < kFlood && Clock::now() < until) {
          std::this_thread::sleep_for(milliseconds(5));
        }
        ASSERT_GE(peer->accepted(), kFlood);
        // Our 200 ends, and at most the sink's table of waiting peers.
        EXPECT_LE(openDescriptors() - before, kFlood + 16);
        break;
      }
      case Hostility::kStrangerDatagrams:
        stranger.store(true);
        strangerThread = std::thread([this] { sendStrangerDatagrams(); });
        break;
    }
  }

  // From an address of its own, once the driver's priming has come.
  void sendStrangerDatagrams() {
    while (stranger.load() && !waitForLine(*peer, "priming datagram", milliseconds(20))) {
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in local = endpoint(uniqueLoopbackAddress(), 0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    const sockaddr_in sinkEnd = endpoint(address, sink::kStreamerPort);
    std::vector<uint8_t> datagram(1536, 0x5A);
    while (stranger.load()) {
      ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&sinkEnd),
               sizeof sinkEnd);
      std::this_thread::sleep_for(milliseconds(1));
    }
    ::close(fd);
  }

  std::vector<int> hostiles;
  std::atomic<bool> stranger{false};
  std::thread strangerThread;
};

TEST_P(HostilePeerTest, NeverKeepsTheNextPlayerFromPlayingBitExact) {
  const HostilePeerCase& c = GetParam();
  useWire(c.wire);
  startSink();
  misbehave(c.hostility);
  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  const play::PlayResult played = playSignal(48000.0, 24);
  ASSERT_TRUE(played.started) << played.error;
  const sink::StreamReport r = report(c.streamsBefore + 1);
  EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  if (c.hostility == Hostility::kStrangerDatagrams) {
    EXPECT_GT(r.foreign, 0u);
  }
  if (c.sinkSays != nullptr) {
    EXPECT_TRUE(waitForLine(*peer, c.sinkSays, milliseconds(3000)));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HostilePeerTest, ::testing::ValuesIn(kHostilePeers),
                         [](const auto& info) { return std::string(info.param.name); });

class TakeoverTest : public HostilePeerTest {};

// A player frozen after its announcement (a PC asleep, its connection left
// half-open) is taken over by the next one within a second; with
// --no-takeover a playing stream is left untouched and the newcomer is told
// the streamer is busy.
TEST_F(TakeoverTest, TheNewestPlayerTakesOverAFrozenOneWithinASecond) {
  startSink();
  keep(frozenPlayer(address, kValidAnnouncement));
  const int frozen = hostiles.back();
  ASSERT_TRUE(waitForLine(*peer, "tick pacer", milliseconds(3000)));

  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  std::atomic<int64_t> closedAfterMs{-1};
  const auto playFrom = Clock::now();
  std::thread watcher([&] {
    if (closesWithin(frozen, milliseconds(10'000))) {
      closedAfterMs.store(
          std::chrono::duration_cast<milliseconds>(Clock::now() - playFrom).count());
    }
  });
  const play::PlayResult played = playSignal(48000.0, 24);
  watcher.join();
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_GE(closedAfterMs.load(), 0);
  EXPECT_LT(closedAfterMs.load(), 1000);
  EXPECT_EQ(report(1).end, sink::StreamEnd::kTakenOver);
  EXPECT_THAT(sink::summaryLine(report(1)), HasSubstr("end=taken-over"));
  EXPECT_TRUE(report(2).bitExact()) << sink::summaryLine(report(2));
}

TEST_F(TakeoverTest, WithNoTakeoverTheNewcomerGetsBusyAndTheStreamPlaysOnBitExact) {
  startSink(true);
  FakeStream stream;
  stream.address = address;
  stream.bits = 24;
  stream.packets = 400;  // ~2.3 s, ended as a driver's stop ends it
  FakeResult first;
  std::thread playing([&] { first = runFakeDriver(stream); });
  ASSERT_TRUE(waitForLine(*peer, "tick pacer", milliseconds(3000)));

  ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  const play::PlayResult refused = playSignal(48000.0, 24);
  playing.join();
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.error, "Error receiving response from TAVROStreamer");
  EXPECT_THAT(spy.codes(), ::testing::Contains(1u));
  EXPECT_EQ(first.reply, "+OK");
  const sink::StreamReport r = report(1);
  EXPECT_EQ(r.end, sink::StreamEnd::kDriver);
  EXPECT_TRUE(r.bitExact()) << sink::summaryLine(r);
  EXPECT_EQ(r.packets, stream.packets);
}

struct AllowCase {
  const char* name;
  std::vector<const char*> allow;  // --allow values; "SELF/32" is the client's own
  bool served;
};

void PrintTo(const AllowCase& c, std::ostream* os) { *os << c.name; }

const AllowCase kAllowCases[] = {
    {"AnyoneByDefault", {}, true},
    {"TheClientsOwnAddress", {"SELF/32"}, true},
    {"TheWholeLoopbackNetwork", {"127.0.0.0/8"}, true},
    {"AnAddressOnTheNetwork", {"127.9.9.9/8"}, true},
    {"AnotherNetworkOnly", {"10.0.0.0/8"}, false},
    {"AnotherAddressOnly", {"127.0.0.1"}, false},
    {"OneOfSeveral", {"10.0.0.0/8", "SELF/32"}, true},
};

class AllowTest : public ::testing::TestWithParam<AllowCase> {};

TEST_P(AllowTest, ServesOnlyTheNetworksAllowed) {
  const AllowCase& c = GetParam();
  const std::string sinkAddress = uniqueLoopbackAddress();
  const std::string client = uniqueLoopbackAddress();
  std::vector<std::string> words = {"tavro-sink", "--address", sinkAddress};
  for (const char* network : c.allow) {
    words.emplace_back("--allow");
    words.emplace_back(std::string(network) == "SELF/32" ? client + "/32" : network);
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  sink::SinkOptions options;
  std::string error;
  ASSERT_TRUE(sink::parseArguments(static_cast<int>(argv.size()), argv.data(), options, error))
      << error;
  sink::SinkPeer peer(options);
  ASSERT_TRUE(peer.start(&error)) << error;
  const int fd = connectToSink(sinkAddress, client);
  ASSERT_GE(fd, 0);
  if (c.served) {
    ASSERT_TRUE(sendFrame(fd, kGreeting));
    EXPECT_EQ(readReply(fd), "OK " + sinkAddress);
  } else {
    EXPECT_TRUE(closesWithin(fd, milliseconds(2000)));
    EXPECT_TRUE(waitForLine(peer, "refusing the connection from " + client, milliseconds(2000)));
  }
  ::close(fd);
  peer.stop();
}

INSTANTIATE_TEST_SUITE_P(Table, AllowTest, ::testing::ValuesIn(kAllowCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AllowArgumentTest, RefusesWhatIsNoNetwork) {
  for (const char* bad : {"127.0.0.0/33", "127.0.0/8", "10.0.0.0/", "10.0.0.0/8x", "everyone"}) {
    SCOPED_TRACE(bad);
    std::string words[] = {"tavro-sink", "--allow", bad};
    char* argv[] = {words[0].data(), words[1].data(), words[2].data()};
    sink::SinkOptions options;
    std::string error;
    EXPECT_FALSE(sink::parseArguments(3, argv, options, error));
    EXPECT_THAT(error, HasSubstr("--allow"));
  }
}

}  // namespace
}  // namespace tavro::testing
