#pragma once
// The hand-over between the sink's thread, which writes each packet's frames
// as it comes, and a device's own thread, which takes them out: an ASIO
// driver's bufferSwitch one half at a time into the DAC's planar buffers,
// a WASAPI endpoint what its buffer has room for, interleaved. One writer
// and one reader, the positions atomics: a driver's callback must never wait
// on a lock the sink holds.
//
// Like a sound card, the feed plays nothing until it holds its prefill, and
// after running dry it plays silence until the prefill is in again: a DAC fed
// packet by packet after an underrun would run dry at every half.
#include <atomic>
#include <cstdint>
#include <vector>

namespace tavro::sink {

struct HalfFeedShape {
  uint32_t sampleBytes = 0;     // one channel's sample in the DAC's buffer
  uint32_t channels = 2;        // interleaved as written, planar as taken
  uint32_t capacityFrames = 0;  // what the feed holds at most
  uint32_t halfFrames = 0;      // what one bufferSwitch takes; the most one take asks for
  uint32_t startFrames = 0;     // the prefill before the first half plays
  uint8_t silence = 0;          // the byte a silent sample is made of
};

class HalfFeed {
 public:
  explicit HalfFeed(const HalfFeedShape& shape);

  const HalfFeedShape& shape() const { return shape_; }

  // The writer's side.
  uint32_t room() const;
  uint32_t queued() const;
  // Takes as many of `count` interleaved frames as there is room for.
  uint32_t write(const uint8_t* frames, uint32_t count);
  // True once for each time the DAC ran dry since the last call.
  bool takeUnderrun() { return underrun_.exchange(false, std::memory_order_acq_rel); }
  // The stream's end: what is queued plays although the prefill is not in.
  void drain() { draining_.store(true, std::memory_order_release); }
  bool draining() const { return draining_.load(std::memory_order_acquire); }

  // The reader's side: one half, de-interleaved into `planes[channel]`.
  void takeHalf(uint8_t* const* planes);
  // Or `frames` (at most halfFrames) interleaved, as written, into `out`.
  void takeFrames(uint8_t* out, uint32_t frames);
  uint64_t halvesTaken() const { return halves_.load(std::memory_order_acquire); }

 private:
  void take(uint32_t frames, uint8_t* const* planes, uint8_t* interleaved);

  const HalfFeedShape shape_;
  const uint32_t frameBytes_;
  std::vector<uint8_t> ring_;
  std::atomic<uint64_t> written_{0};  // frames, written by the writer only
  std::atomic<uint64_t> taken_{0};    // frames, written by the reader only
  std::atomic<bool> underrun_{false};
  std::atomic<bool> draining_{false};
  std::atomic<uint64_t> halves_{0};
  bool playing_ = false;  // the reader's own: prefilled and not dry since
};

}  // namespace tavro::sink
