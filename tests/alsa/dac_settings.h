#pragma once
// What a test DAC's configuration entry says (capture, control, formats,
// rates) and the hardware parameters that follow from it: 2 channels,
// interleaved read/write access, only the listed formats and rates, and
// periods of 16 frames to 1M frames, 2 to 64 of them in at most 16 MiB.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <string>
#include <vector>

namespace tavro::testing {

struct DacSettings {
  std::string capture;
  std::string starts;  // optional: where each start of playback is logged
  std::string control;
  std::vector<unsigned> formats;
  std::vector<unsigned> rates;
};

// 0, or -EINVAL with alsa-lib's error log saying what is wrong.
int parseDacSettings(snd_config_t* conf, DacSettings& settings);

int constrainHwParams(snd_pcm_ioplug_t* io, const DacSettings& settings);

}  // namespace tavro::testing
