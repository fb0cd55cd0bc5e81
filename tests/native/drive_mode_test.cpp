// Drive mode: the streamer plays from a removable drive of this PC, so it
// runs at 127.0.0.1 and these cases hold the single-PC lock. The drives come
// from $TAVRO_DRIVES: letters standing for folders of the test's own.
#include <gmock/gmock.h>

#include <cstring>
#include <filesystem>

#include "stream_fixture.h"

namespace tavro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DriveModeTest : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    std::filesystem::create_directories(scratch / "stick-e");
    std::filesystem::create_directories(scratch / "stick-f");
  }
  void TearDown() override {
    unsetEnv("TAVRO_DRIVES");
    StreamTest::TearDown();
  }

  void drives(const std::string& list) { setEnv("TAVRO_DRIVES", list); }
  std::string folder(const char* name) { return (scratch / name).string(); }

  void initOnThisPc(TickStyle ticks = TickStyle::kPaced) {
    HostileOptions options = sinkOptions(24, 0, 0);
    options.tickStyle = ticks;
    options.driveMode = 1;
    options.address = control::kSinglePcHost;
    startPeer(std::move(options), false);
    setSetting(control::kSinglePcValue, "1");
    ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  }
};

TEST_F(DriveModeTest, WithoutARemovableDriveStartFailsWithNotificationTenAndKeepsTheConnection) {
  drives("C=fixed:/");
  initOnThisPc();
  createSilentBuffers();
  EXPECT_EQ(driver->start(), asio::kAseNotPresent);
  EXPECT_THAT(spy.codes(), ElementsAre(10u));
  EXPECT_TRUE(controlConnectionOpen());
}

TEST_F(DriveModeTest, TheLastRemovableDriveIsHandedToTheHostAndTheStreamPlays) {
  drives("C=fixed:/;E=removable:" + folder("stick-e") + ";F=removable:" + folder("stick-f"));
  initOnThisPc();
  const play::PlayResult played = playSignal(44100, 6);
  ASSERT_TRUE(played.started) << played.error;
  // The path lands 80 bytes into the host's block.
  char block[128];
  std::memset(block, '#', sizeof block);
  EXPECT_EQ(driver->future(48168, block), asio::kAseSuccess);
  EXPECT_STREQ(block + 80, "F:\\");
  EXPECT_EQ(block[84], '#') << "the text and its NUL, nothing more";
  EXPECT_TRUE(report(1).bitExact()) << sink::summaryLine(report(1));
  EXPECT_THAT(spy.codes(), IsEmpty());
}

// Ticks one at a time, and ticks of every length from 1 to 64 bytes, so that
// a receive often holds many (every two bytes are one) when the drive is
// found gone: no half is asked of the host once it can no longer be sent.
class DriveVanishTest : public DriveModeTest, public ::testing::WithParamInterface<TickStyle> {};

TEST_P(DriveVanishTest, ADriveThatVanishesMidStreamEndsTheStreamAfterItsLastPacket) {
  drives("E=removable:" + folder("stick-e"));
  initOnThisPc(GetParam());
  std::atomic<bool> pulled{false};
  std::thread user([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::filesystem::remove(folder("stick-e"));
    pulled = true;
  });
  const play::PlayResult played = playSignal(44100, 0, 10);
  user.join();
  ASSERT_TRUE(played.started) << played.error;
  EXPECT_TRUE(played.stalled);  // no buffer switch once the drive was gone
  EXPECT_FALSE(controlConnectionOpen());
  const sink::StreamReport r = report(1);
  EXPECT_EQ(r.mismatched, 0u);
  // The tick that found the drive gone still had its packet sent, and no
  // switch came after it.
  EXPECT_EQ(r.packets, static_cast<uint64_t>(played.halves));
}

INSTANTIATE_TEST_SUITE_P(Ticks, DriveVanishTest,
                         ::testing::Values(TickStyle::kPaced, TickStyle::kEveryLength),
                         [](const auto& info) {
                           return info.param == TickStyle::kEveryLength ? "EveryLength" : "Paced";
                         });

}  // namespace
}  // namespace tavro::testing
