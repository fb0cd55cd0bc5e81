#pragma once
// Which of the sink's device samples an ASIO output's sample type carries a
// stream in, exactly, and what the DAC is asked for at a stream's rate.
// ASIO drivers name one fixed type per channel; the sink never narrows, so a
// type that cannot hold every bit of the stream is a refusal, not a
// conversion.
#include <cstdint>
#include <optional>

#include "sink/output/device_format.h"

namespace tavro::sink {

// The device sample that `asioType` stores, when the sink writes that kind.
std::optional<DeviceSample> asioDeviceSample(int32_t asioType);
// The ASIO type's name as drivers' documentation gives it, for messages.
const char* asioTypeName(int32_t asioType);
// `asioType` holds a `bits`-bit PCM sample (or DoP passed through) exactly.
bool asioCarriesPcm(int32_t asioType, uint32_t bits);
// `asioType` is DSD one bit a sample, eight to a byte, the oldest in the
// most significant bit: the byte order of DoP's payload, so no bit moves.
bool asioCarriesDsd(int32_t asioType);

// The rate an ASIO driver is set to for a stream announced at `streamRate`:
// the DoP frame rate times its 16 DSD bits in DSD mode.
double asioRate(uint32_t streamRate, bool dsd);
// Device frames (bytes per channel in DSD) in a half of `bufferSize`
// samples; DSD buffer sizes count one-bit samples.
uint32_t asioHalfFrames(int32_t bufferSize, bool dsd);

}  // namespace tavro::sink
