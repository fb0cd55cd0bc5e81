#include "sink/report/latency_stats.h"

#include <cmath>

namespace tavro::sink {
namespace {

constexpr size_t kBuckets = 100'000;

}  // namespace

LatencyStats::LatencyStats() : buckets_(kBuckets, 0) {}

void LatencyStats::add(int64_t nanoseconds) {
  const uint64_t us = nanoseconds <= 0 ? 0 : static_cast<uint64_t>(nanoseconds) / 1000;
  if (us < kBuckets) ++buckets_[us];
  if (us > maxUs_) maxUs_ = us;
  ++count_;
}

uint64_t LatencyStats::percentileUs(double fraction) const {
  if (count_ == 0) return 0;
  auto rank = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(count_)));
  if (rank == 0) rank = 1;
  uint64_t seen = 0;
  for (size_t us = 0; us < kBuckets; ++us) {
    seen += buckets_[us];
    if (seen >= rank) return us;
  }
  return maxUs_;
}

}  // namespace tavro::sink
