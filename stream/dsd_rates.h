#pragma once
// Where DSD begins. The channels and their buffers turn to packed one-bit
// samples above 2 MHz, but the stream is laid out as DSD over PCM only from
// 2822400 Hz, the lowest rate the streamer plays as DSD. The rates between
// the two would give buffers of one shape and packets of the other, so a
// stream is never started there.
#include <cstdint>

#include "asio/asio.h"

namespace tavro::stream {

inline constexpr double kDsdBufferRate = 2000000.0;  // above: DSD channels and buffers
inline constexpr double kDsdStreamRate = 2822400.0;  // from here: DSD over PCM on the wire

constexpr bool hasDsdBuffers(double sampleRate) noexcept { return sampleRate > kDsdBufferRate; }

constexpr bool isDsdStream(double sampleRate) noexcept { return sampleRate >= kDsdStreamRate; }

// True for the rates at which start refuses to stream.
constexpr bool isUnsupportedDsdGap(double sampleRate) noexcept {
  return hasDsdBuffers(sampleRate) && !isDsdStream(sampleRate);
}

constexpr asio::AsioSampleType channelSampleType(double sampleRate) noexcept {
  return hasDsdBuffers(sampleRate) ? asio::kDsdInt8Msb1 : asio::kInt32Lsb;
}

// 32-bit words per half of an output buffer made for `bufferSize` frames: one
// sample per word, or 32 one-bit samples per word in DSD buffers.
constexpr int32_t bufferWordsPerHalf(int32_t bufferSize, double sampleRate) noexcept {
  return hasDsdBuffers(sampleRate) ? bufferSize / 32 : bufferSize;
}

// Words of each channel that packing reads per half for `bufferFrames`.
constexpr int32_t framesPerHalf(int32_t bufferFrames, double sampleRate) noexcept {
  return isDsdStream(sampleRate) ? bufferFrames / 32 : bufferFrames;
}

}  // namespace tavro::stream
