#include "sink/output/half_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace tavro::sink {
namespace {

// Frame n carries 2n+1 on the left and 2n+2 on the right, so a frame played
// twice, out of its place, or with its channels crossed shows, and silence
// (0) stands apart from every frame.
void makeFrames(uint64_t first, uint32_t count, std::vector<uint8_t>& out) {
  out.resize(size_t{count} * 8);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t left = static_cast<uint32_t>(2 * (first + i) + 1);
    const uint32_t right = left + 1;
    std::memcpy(out.data() + size_t{i} * 8, &left, 4);
    std::memcpy(out.data() + size_t{i} * 8 + 4, &right, 4);
  }
}

// What the DAC was given, frame by frame: the left sample, or 0 for silence.
struct Played {
  std::vector<uint32_t> frames;
  std::string fault;

  // A half into planar buffers (an ASIO DAC), or with `interleaved` that
  // many frames as written (a WASAPI endpoint's free room).
  void take(HalfFeed& feed, uint32_t interleaved = 0) {
    const uint32_t count = interleaved != 0 ? interleaved : feed.shape().halfFrames;
    std::vector<uint8_t> left(size_t{count} * 8), right(size_t{count} * 4);
    if (interleaved != 0) {
      feed.takeFrames(left.data(), count);
    } else {
      uint8_t* planes[2] = {left.data(), right.data()};
      feed.takeHalf(planes);
    }
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t l = 0, r = 0;
      std::memcpy(&l, left.data() + size_t{i} * (interleaved != 0 ? 8 : 4), 4);
      std::memcpy(
          &r, interleaved != 0 ? left.data() + size_t{i} * 8 + 4 : right.data() + size_t{i} * 4, 4);
      if (l == 0 ? r != 0 : r != l + 1) fault = "channels differ at frame " + std::to_string(i);
      frames.push_back(l);
    }
  }
  // Every frame written, once each and in order, with silence only between.
  uint64_t checkOrder() {
    uint64_t next = 0;
    for (const uint32_t value : frames) {
      if (value == 0) continue;
      if (value != 2 * next + 1) {
        fault = "frame " + std::to_string(next) + " expected, got " + std::to_string(value / 2);
        return next;
      }
      ++next;
    }
    return next;
  }
  size_t silenceAfterStart() const {
    size_t first = 0;
    while (first < frames.size() && frames[first] == 0) ++first;
    size_t last = frames.size();
    while (last > first && frames[last - 1] == 0) --last;
    size_t silent = 0;
    for (size_t i = first; i < last; ++i) silent += frames[i] == 0;
    return silent;
  }
};

HalfFeedShape shapeFor(uint32_t packet, uint32_t half, uint32_t packets) {
  HalfFeedShape shape;
  shape.sampleBytes = 4;
  shape.capacityFrames = half + packet * packets;
  shape.halfFrames = half;
  shape.startFrames = shape.capacityFrames / packet * packet - packet / 2;
  return shape;
}

struct FeedCase {
  const char* name;
  uint32_t packetFrames;
  uint32_t halfFrames;
  uint32_t packets;
  uint32_t stallHalves;      // the writer stops for this long, once, mid-stream
  bool interleaved = false;  // takes of changing size, up to a half, as written
};

class HalfFeedTest : public ::testing::TestWithParam<FeedCase> {};

// The writer keeps the feed as full as the sink keeps a card: a packet
// whenever there is room for one. Halves are taken one after another.
TEST_P(HalfFeedTest, PlaysEveryFrameOnceInOrderWithSilenceOnlyWhereItRanDry) {
  const FeedCase& c = GetParam();
  HalfFeed feed(shapeFor(c.packetFrames, c.halfFrames, c.packets));
  Played played;
  std::vector<uint8_t> packet;
  uint64_t written = 0;
  int underruns = 0;
  const int halves = 400;
  const int stallAt = 200;
  for (int half = 0; half < halves; ++half) {
    const bool stalled =
        c.stallHalves > 0 && half >= stallAt && half < stallAt + static_cast<int>(c.stallHalves);
    while (!stalled && feed.room() >= c.packetFrames) {
      makeFrames(written, c.packetFrames, packet);
      ASSERT_EQ(feed.write(packet.data(), c.packetFrames), c.packetFrames);
      written += c.packetFrames;
    }
    // An endpoint's free room changes from one wake to the next.
    played.take(feed, c.interleaved ? 1 + (static_cast<uint32_t>(half) * 193) % c.halfFrames : 0);
    underruns += feed.takeUnderrun();
  }
  feed.drain();
  while (feed.queued() > 0) played.take(feed);

  EXPECT_EQ(played.fault, "");
  EXPECT_EQ(played.checkOrder(), written) << played.fault;
  EXPECT_EQ(underruns, c.stallHalves > 0 ? 1 : 0);
  if (c.stallHalves == 0) {
    EXPECT_EQ(played.silenceAfterStart(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HalfFeedTest,
    ::testing::Values(FeedCase{"SmallPacketsIntoLargeHalves", 48, 512, 4, 0},
                      FeedCase{"LargePacketsIntoSmallHalves", 1024, 64, 4, 0},
                      FeedCase{"PacketsThatDoNotDivideTheHalf", 441, 256, 3, 0},
                      FeedCase{"EqualPacketsAndHalves", 256, 256, 2, 0},
                      FeedCase{"AStallLongerThanTheFeedRunsDryOnce", 48, 512, 4, 6},
                      FeedCase{"AStallWithLargePackets", 1024, 64, 4, 80},
                      FeedCase{"InterleavedTakesOfChangingSize", 441, 512, 4, 0, true},
                      FeedCase{"InterleavedTakesThroughAStall", 48, 512, 4, 12, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HalfFeedDrainTest, AStreamShorterThanThePrefillPlaysWholeAtItsEnd) {
  HalfFeed feed(shapeFor(256, 512, 4));
  std::vector<uint8_t> packet;
  makeFrames(0, 300, packet);
  ASSERT_EQ(feed.write(packet.data(), 300), 300u);
  Played played;
  played.take(feed);
  EXPECT_EQ(played.checkOrder(), 0u) << "played before its prefill";
  feed.drain();
  played.take(feed);
  EXPECT_EQ(played.checkOrder(), 300u) << played.fault;
  EXPECT_FALSE(feed.takeUnderrun()) << "the stream's end counted as a dry DAC";
}

// The DAC's thread and the sink's at their own paces: nothing torn, lost or
// doubled between them (run under ThreadSanitizer too).
TEST(HalfFeedThreadsTest, AWriterAndTheDacsThreadHandOverEveryFrameIntact) {
  HalfFeed feed(shapeFor(48, 64, 4));
  std::atomic<bool> done{false};
  Played played;
  std::thread dac([&] {
    while (!done.load()) {
      played.take(feed);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    while (feed.queued() > 0) played.take(feed);
  });
  std::vector<uint8_t> packet;
  uint64_t written = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < until) {
    if (feed.room() < 48) {
      std::this_thread::yield();
      continue;
    }
    makeFrames(written, 48, packet);
    written += feed.write(packet.data(), 48);
  }
  feed.drain();
  done.store(true);
  dac.join();
  EXPECT_EQ(played.fault, "");
  EXPECT_EQ(played.checkOrder(), written) << played.fault;
}

}  // namespace
}  // namespace tavro::sink
