#include "dac_settings.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

namespace tavro::testing {
namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kMinPeriodFrames = 16;
constexpr unsigned kMaxPeriodFrames = 1u << 20;
constexpr unsigned kMinPeriods = 2;
constexpr unsigned kMaxPeriods = 64;
// A few seconds even at DSD512: an application that leaves the sizes to
// alsa-lib gets the largest buffer, which should still look like a device's.
constexpr unsigned kMaxBufferBytes = 16u << 20;

unsigned frameBytes(unsigned format) {
  return static_cast<unsigned>(
             snd_pcm_format_physical_width(static_cast<snd_pcm_format_t>(format))) *
         kChannels / 8;
}

int parseFormats(const char* text, std::vector<unsigned>& formats) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const snd_pcm_format_t format = snd_pcm_format_value(word.c_str());
    if (format == SND_PCM_FORMAT_UNKNOWN) {
      SNDERR("tavrotest: unknown format %s", word.c_str());
      return -EINVAL;
    }
    formats.push_back(static_cast<unsigned>(format));
  }
  return formats.empty() ? -EINVAL : 0;
}

int parseRates(const char* text, std::vector<unsigned>& rates) {
  std::istringstream words(text);
  for (unsigned rate = 0; words >> rate;) rates.push_back(rate);
  return rates.empty() || !words.eof() ? -EINVAL : 0;
}

}  // namespace

int parseDacSettings(snd_config_t* conf, DacSettings& settings) {
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* entry = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(entry, &id) < 0) continue;
    const std::string key = id;
    if (key == "comment" || key == "type" || key == "hint") continue;
    const char* value = nullptr;
    if (snd_config_get_string(entry, &value) < 0) {
      SNDERR("tavrotest: %s must be a string", id);
      return -EINVAL;
    }
    int err = 0;
    if (key == "capture") {
      settings.capture = value;
    } else if (key == "starts") {
      settings.starts = value;
    } else if (key == "control") {
      settings.control = value;
    } else if (key == "formats") {
      err = parseFormats(value, settings.formats);
    } else if (key == "rates") {
      err = parseRates(value, settings.rates);
    } else {
      SNDERR("tavrotest: unknown field %s", id);
      err = -EINVAL;
    }
    if (err < 0) return err;
  }
  if (settings.capture.empty() || settings.control.empty() || settings.formats.empty() ||
      settings.rates.empty()) {
    SNDERR("tavrotest: capture, control, formats and rates are all needed");
    return -EINVAL;
  }
  return 0;
}

int constrainHwParams(snd_pcm_ioplug_t* io, const DacSettings& settings) {
  static const unsigned kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  unsigned smallest = ~0u;
  unsigned largest = 0;
  for (const unsigned format : settings.formats) {
    smallest = std::min(smallest, frameBytes(format));
    largest = std::max(largest, frameBytes(format));
  }
  // ioplug bounds periods in bytes: the frame bounds hold for the widest and
  // narrowest formats alike.
  const unsigned minPeriodBytes = kMinPeriodFrames * smallest;
  const unsigned maxPeriodBytes = kMaxPeriodFrames * largest;
  int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess);
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT,
                                        static_cast<unsigned>(settings.formats.size()),
                                        settings.formats.data());
  }
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, kChannels, kChannels);
  }
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_RATE,
                                        static_cast<unsigned>(settings.rates.size()),
                                        settings.rates.data());
  }
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, minPeriodBytes,
                                          maxPeriodBytes);
  }
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, kMinPeriods, kMaxPeriods);
  }
  if (err >= 0) {
    err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES,
                                          kMinPeriods * minPeriodBytes, kMaxBufferBytes);
  }
  return err;
}

}  // namespace tavro::testing
