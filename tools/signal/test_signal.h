#pragma once
// A signal that a host can write and a streamer can check sample by sample:
// every bit of every sample changes, the two channels never agree, and some
// frames sit at the extremes, so that a swapped channel, a dropped or
// repeated packet, a wrong shift, byte order or DoP marker all show up.
#include <cstdint>

namespace tavro::signal {

// The signed 32-bit PCM sample a host writes for channel 0 (left) or 1 (right) at frame n.
int32_t pcmSample(uint32_t channel, uint64_t frame) noexcept;

// Byte n (in time order) of channel c's one-bit DSD stream. A host's DSD buffer word w of
// channel c holds bytes 4w, 4w+1, 4w+2, 4w+3 of that stream at its lowest to highest address.
uint8_t dsdByte(uint32_t channel, uint64_t byteIndex) noexcept;

}  // namespace tavro::signal
