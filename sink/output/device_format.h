#pragma once
// What a sound card is given for each stream layout, and the conversion from
// the wire's samples into it. Nothing here narrows a sample: a card that
// cannot hold every bit of the stream is not offered it.
#include <cstdint>
#include <span>

namespace tavro::sink {

// The device sample formats the sink uses, named as alsa-lib names them.
enum class DeviceSample : uint8_t {
  kS16Le,
  kS24_3Le,
  kS24Le,  // 24 bits in the low three bytes of four, sign-extended
  kS32Le,
  // Native DSD, 8 one-bit samples of a channel per byte, the earliest in the
  // most significant bit, channels interleaved byte by byte: alsa-lib's
  // DSD_U8, and what an ASIO driver's one-bit-per-sample MSB-first buffers
  // hold once de-interleaved.
  kDsdU8,
  kDsdU16Le,
  kDsdU16Be,
  kDsdU32Le,
  kDsdU32Be,
};

const char* sampleName(DeviceSample sample);
uint32_t sampleBytes(DeviceSample sample);
bool isNativeDsd(DeviceSample sample);

// Formats that carry a `bits`-bit PCM (or DoP) sample exactly, best first.
std::span<const DeviceSample> pcmCandidates(uint32_t bits);
// The native DSD formats, best first.
std::span<const DeviceSample> dsdCandidates();

// The card's frame rate for a stream announced at `streamRate`: the same for
// PCM and DoP passed through; for native DSD, the DSD bit rate (16 bits per
// DoP frame) over the bits one sample holds.
uint32_t deviceRate(DeviceSample sample, uint32_t streamRate);

// DSD's idle pattern: what a DSD DAC plays as silence. Zero bytes would be a
// full-scale signal.
inline constexpr uint8_t kDsdSilence = 0x69;

// A 32-bit native DSD sample takes two DoP frames: the first waits here for
// the second, which may come in the next packet.
struct DsdCarry {
  bool carrying = false;
  uint8_t bytes[2][2] = {};  // [channel][older, newer DSD byte]
};

// Turns the wire's interleaved little-endian stereo packets into the card's
// frames, through one conversion chosen when it is made from a table
// indexed by the wire's sample and the device's (as PortAudio does), so no
// sample goes through a switch. Owned by the thread that writes to the
// card; the only state is the DoP frame a 32-bit native format carries over
// to the next packet, and the marker that DoP silence continues with.
class SampleConverter {
 public:
  // Converts `frames` wire frames into `out`; returns the device frames.
  using Conversion = uint32_t (*)(const uint8_t* wire, uint32_t frames, uint8_t* out,
                                  DsdCarry& carry);

  // `dop`: the 24-bit wire samples are DoP; required for a native DSD format.
  // A pairing that would narrow a sample has no conversion: nothing is
  // written for it.
  SampleConverter(uint32_t wireBits, DeviceSample sample, bool dop);

  uint32_t deviceFrameBytes() const { return 2 * sampleBytes(sample_); }
  // Room `convert` or `silence` needs for `wireFrames` frames, in device frames.
  uint32_t deviceFramesFor(uint32_t wireFrames) const;

  // Converts `wireFrames` frames; returns the device frames written to `out`.
  uint32_t convert(const uint8_t* wire, uint32_t wireFrames, uint8_t* out);
  // The silence that stands in for `wireFrames` frames of the stream, as
  // `convert` would have given them.
  uint32_t silence(uint32_t wireFrames, uint8_t* out);
  // The carried-over half of a 32-bit DSD sample, completed with silence;
  // 0 frames when nothing is carried.
  uint32_t flush(uint8_t* out);

 private:
  const uint32_t wireBits_;
  const DeviceSample sample_;
  const bool dop_;
  const Conversion conversion_;
  uint8_t nextMarker_ = 0x05;  // DoP: the marker the next frame of silence gets
  DsdCarry carry_;
};

}  // namespace tavro::sink
