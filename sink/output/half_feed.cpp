#include "sink/output/half_feed.h"

#include <algorithm>
#include <cstring>

namespace tavro::sink {

HalfFeed::HalfFeed(const HalfFeedShape& shape)
    : shape_(shape),
      frameBytes_(shape.sampleBytes * shape.channels),
      ring_(size_t{shape.capacityFrames} * shape.sampleBytes * shape.channels) {}

uint32_t HalfFeed::queued() const {
  return static_cast<uint32_t>(written_.load(std::memory_order_acquire) -
                               taken_.load(std::memory_order_acquire));
}

uint32_t HalfFeed::room() const { return shape_.capacityFrames - queued(); }

uint32_t HalfFeed::write(const uint8_t* frames, uint32_t count) {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint32_t taking = std::min(count, room());
  for (uint32_t done = 0; done < taking;) {
    const uint32_t at = static_cast<uint32_t>((written + done) % shape_.capacityFrames);
    const uint32_t run = std::min(taking - done, shape_.capacityFrames - at);
    std::memcpy(ring_.data() + size_t{at} * frameBytes_, frames + size_t{done} * frameBytes_,
                size_t{run} * frameBytes_);
    done += run;
  }
  written_.store(written + taking, std::memory_order_release);
  return taking;
}

void HalfFeed::takeHalf(uint8_t* const* planes) { take(shape_.halfFrames, planes, nullptr); }

void HalfFeed::takeFrames(uint8_t* out, uint32_t frames) {
  take(std::min(frames, shape_.halfFrames), nullptr, out);
}

void HalfFeed::take(uint32_t frames, uint8_t* const* planes, uint8_t* interleaved) {
  const uint32_t bytes = shape_.sampleBytes;
  const uint64_t taken = taken_.load(std::memory_order_relaxed);
  const uint32_t held = static_cast<uint32_t>(written_.load(std::memory_order_acquire) - taken);
  if (!playing_ &&
      (held >= shape_.startFrames || (held > 0 && draining_.load(std::memory_order_acquire)))) {
    playing_ = true;
  }
  const uint32_t playing = playing_ ? std::min(held, frames) : 0;
  for (uint32_t done = 0; done < playing;) {
    const uint32_t at = static_cast<uint32_t>((taken + done) % shape_.capacityFrames);
    const uint32_t run = std::min(playing - done, shape_.capacityFrames - at);
    const uint8_t* from = ring_.data() + size_t{at} * frameBytes_;
    if (interleaved != nullptr) {
      std::memcpy(interleaved + size_t{done} * frameBytes_, from, size_t{run} * frameBytes_);
    } else {
      for (uint32_t frame = 0; frame < run; ++frame, from += frameBytes_) {
        for (uint32_t channel = 0; channel < shape_.channels; ++channel) {
          std::memcpy(planes[channel] + size_t{done + frame} * bytes,
                      from + size_t{channel} * bytes, bytes);
        }
      }
    }
    done += run;
  }
  if (interleaved != nullptr) {
    std::memset(interleaved + size_t{playing} * frameBytes_, shape_.silence,
                size_t{frames - playing} * frameBytes_);
  } else {
    for (uint32_t channel = 0; channel < shape_.channels; ++channel) {
      std::memset(planes[channel] + size_t{playing} * bytes, shape_.silence,
                  size_t{frames - playing} * bytes);
    }
  }
  taken_.store(taken + playing, std::memory_order_release);
  // A short take after the stream's last frames is its end, not a dry DAC.
  if (playing_ && playing < frames && !draining_.load(std::memory_order_acquire)) {
    playing_ = false;
    underrun_.store(true, std::memory_order_release);
  }
  halves_.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace tavro::sink
