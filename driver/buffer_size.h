#pragma once
// The one buffer size the driver offers: a table entry chosen by the
// streamer's settings, scaled so that a buffer lasts about as long at every
// rate.
#include <array>
#include <cstdint>

namespace tavro::driver {

inline constexpr std::array<int32_t, 10> kBufferSizeTable = {48,   64,   96,   192,  384,
                                                             1024, 1536, 3072, 6144, 24576};
// The settings query maps an index above the table to this entry; the buffer
// size applies the same rule so that a stray index never reads past the table.
inline constexpr uint32_t kFallbackBufferSizeIndex = 6;

// How many places the table value is shifted left at `sampleRate`: 9 (x512)
// from 22579200 Hz down to 0 (x1) at 80000 Hz and below, and for a NaN.
int rateFactorShift(double sampleRate) noexcept;

// Frames per half-buffer for `index` at `sampleRate`.
int32_t bufferSizeFor(uint32_t index, double sampleRate) noexcept;

}  // namespace tavro::driver
