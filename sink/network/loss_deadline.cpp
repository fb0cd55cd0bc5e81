#include "sink/network/loss_deadline.h"

#include <algorithm>

namespace tavro::sink {
namespace {

// Twice the slowest recent round trip and two milliseconds more: a loopback
// or wired link answers in a fraction of a millisecond, and Wi-Fi's jitter is
// of the order of the round trip itself.
constexpr int64_t kFactor = 2;
constexpr int64_t kMarginNs = 2'000'000;
// Below this a driver whose thread waits out another program's time slice
// (a few milliseconds on a busy PC) would pass for lost.
constexpr int64_t kFloorNs = 5'000'000;

}  // namespace

LossDeadline::LossDeadline(GiveUp rule, int64_t periodNs, int64_t upperNs)
    : rule_(rule),
      floorNs_(std::min(std::max(kFloorNs, periodNs / 2), upperNs)),
      upperNs_(upperNs),
      current_(upperNs) {}

void LossDeadline::addRoundTrip(int64_t ns) {
  recent_[count_ % kRecent] = ns;
  ++count_;
  if (rule_ != GiveUp::kLearned || count_ < kLearnFrom) return;
  current_ = std::clamp(kFactor * highestNs() + kMarginNs, floorNs_, upperNs_);
}

int64_t LossDeadline::medianNs() const {
  const size_t n = samples();
  if (n == 0) return 0;
  std::array<int64_t, kRecent> sorted = recent_;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<ptrdiff_t>(n / 2),
                   sorted.begin() + static_cast<ptrdiff_t>(n));
  return sorted[n / 2];
}

int64_t LossDeadline::highestNs() const {
  const size_t n = samples();
  return n == 0 ? 0
                : *std::max_element(recent_.begin(), recent_.begin() + static_cast<ptrdiff_t>(n));
}

}  // namespace tavro::sink
