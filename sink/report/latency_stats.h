#pragma once
// Tick-to-packet latencies in microseconds: a histogram of fixed size, so a
// stream of any length costs the same memory, exact up to 100 ms.
#include <cstdint>
#include <vector>

namespace tavro::sink {

class LatencyStats {
 public:
  LatencyStats();
  void add(int64_t nanoseconds);
  uint64_t count() const { return count_; }
  // The smallest latency that `fraction` of the samples do not exceed; 0
  // without samples. Beyond the histogram's range, the maximum.
  uint64_t percentileUs(double fraction) const;
  uint64_t maxUs() const { return maxUs_; }

 private:
  std::vector<uint32_t> buckets_;  // one per microsecond
  uint64_t count_ = 0;
  uint64_t maxUs_ = 0;
};

}  // namespace tavro::sink
