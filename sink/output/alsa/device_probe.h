#pragma once
// What one playback device really takes: it is opened with every alsa-lib
// conversion off, so a format or rate found here reaches the DAC untouched.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tavro::sink {

inline constexpr uint32_t kDsd64 = 2822400;  // bits per second per channel

// Formats that take the same rates, in the order they are tried.
struct FormatGroup {
  std::vector<snd_pcm_format_t> formats;
  // Frames per second for PCM; for DSD the DSD rate (kDsd64 and its
  // multiples), whatever frame rate the format needs to carry it.
  std::vector<uint32_t> rates;
};

// Only formats that take at least one of the tried rates appear.
struct DeviceOffer {
  std::vector<FormatGroup> pcm;
  std::vector<FormatGroup> dsd;
};

struct ProbeFailure {
  enum class Step { kOpen, kStereo } step;  // kStereo: no interleaved 2-channel stream
  int error;                                // negative errno, as alsa-lib gives it
};

using Probe = std::variant<DeviceOffer, ProbeFailure>;

// Opens `name` for playback without blocking, tries two interleaved channels
// in each format and rate the streams use, and closes it again.
Probe probeDevice(const std::string& name);

// The frame rate a DSD format runs at to carry `dsdRate` bits per second.
uint32_t dsdFrameRate(snd_pcm_format_t format, uint32_t dsdRate);

}  // namespace tavro::sink
