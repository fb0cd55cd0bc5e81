#pragma once
// Where a DAC's playback stands at a moment of the monotonic clock: from its
// start it takes exactly `rate` frames a second, as its crystal would, however
// the application keeps up.
#include <cstdint>

namespace tavro::testing {

class PlayClock {
 public:
  void start(int64_t nowNs, uint32_t rate) {
    startNs_ = nowNs;
    rate_ = rate;
  }

  uint64_t framesAt(int64_t nowNs) const {
    if (nowNs <= startNs_) return 0;
    // 128 bits: nanoseconds times a DSD512 frame rate leave 64 bits within the hour.
    const auto ns = static_cast<unsigned __int128>(nowNs - startNs_);
    return static_cast<uint64_t>(ns * rate_ / kNsPerSecond);
  }

  // The first moment by which `frames` have played: rounded up, so that a
  // wake-up set for it never finds the last frame still missing.
  int64_t timeOf(uint64_t frames) const {
    const auto ns = (static_cast<unsigned __int128>(frames) * kNsPerSecond + rate_ - 1) / rate_;
    return startNs_ + static_cast<int64_t>(ns);
  }

 private:
  static constexpr uint64_t kNsPerSecond = 1'000'000'000;
  int64_t startNs_ = 0;
  uint32_t rate_ = 1;
};

}  // namespace tavro::testing
