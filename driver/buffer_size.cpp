#include "driver/buffer_size.h"

namespace tavro::driver {
namespace {

struct RateStep {
  double rate;
  bool inclusive;  // the DSD rates themselves belong to their step
  int shift;
};

// Tried from the top; the first that holds wins.
constexpr RateStep kRateSteps[] = {
    {22579200.0, true, 9}, {11289600.0, true, 8}, {5644800.0, true, 7},
    {2822400.0, true, 6},  {1500000.0, false, 5}, {680000.0, false, 4},
    {340000.0, false, 3},  {170000.0, false, 2},  {80000.0, false, 1},
};

}  // namespace

int rateFactorShift(double sampleRate) noexcept {
  // Every comparison with a NaN is false, so a NaN falls through to factor 1.
  for (const RateStep& step : kRateSteps) {
    if (step.inclusive ? sampleRate >= step.rate : sampleRate > step.rate) return step.shift;
  }
  return 0;
}

int32_t bufferSizeFor(uint32_t index, double sampleRate) noexcept {
  if (index >= kBufferSizeTable.size()) index = kFallbackBufferSizeIndex;
  // The largest product, 24576 << 9, is far inside 32 bits.
  return kBufferSizeTable[index] << rateFactorShift(sampleRate);
}

}  // namespace tavro::driver
