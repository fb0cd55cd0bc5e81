#include "sink/output/alsa/device_probe.h"

#include <array>
#include <span>

#include "sink/output/alsa/alsa_handles.h"

namespace tavro::sink {
namespace {

constexpr std::array kPcmFormats = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE,
                                    SND_PCM_FORMAT_S24_LE, SND_PCM_FORMAT_S32_LE};
constexpr std::array kDsdFormats = {SND_PCM_FORMAT_DSD_U8, SND_PCM_FORMAT_DSD_U16_LE,
                                    SND_PCM_FORMAT_DSD_U16_BE, SND_PCM_FORMAT_DSD_U32_LE,
                                    SND_PCM_FORMAT_DSD_U32_BE};
constexpr std::array<uint32_t, 12> kPcmRates = {44100,  48000,  88200,  96000,  176400,  192000,
                                                352800, 384000, 705600, 768000, 1411200, 1536000};
constexpr std::array<uint32_t, 4> kDsdRates = {kDsd64, 2 * kDsd64, 4 * kDsd64, 8 * kDsd64};

// Each test starts again from the full stereo space: a test that narrowed a
// shared copy would make later answers depend on earlier ones.
class Tester {
 public:
  Tester(snd_pcm_t* pcm, const snd_pcm_hw_params_t* stereo)
      : pcm_(pcm), stereo_(stereo), scratch_(alsa::newHwParams()) {}

  bool takes(snd_pcm_format_t format, uint32_t rate) {
    if (!scratch_) return false;
    snd_pcm_hw_params_copy(scratch_.get(), stereo_);
    if (snd_pcm_hw_params_set_format(pcm_, scratch_.get(), format) < 0) return false;
    return snd_pcm_hw_params_test_rate(pcm_, scratch_.get(), rate, 0) == 0;
  }

  bool takes(snd_pcm_format_t format) {
    if (!scratch_) return false;
    snd_pcm_hw_params_copy(scratch_.get(), stereo_);
    return snd_pcm_hw_params_test_format(pcm_, scratch_.get(), format) == 0;
  }

 private:
  snd_pcm_t* pcm_;
  const snd_pcm_hw_params_t* stereo_;
  alsa::HwParams scratch_;
};

template <typename FrameRate>
std::vector<FormatGroup> group(Tester& tester, std::span<const snd_pcm_format_t> formats,
                               std::span<const uint32_t> rates, FrameRate frameRate) {
  std::vector<FormatGroup> groups;
  for (const snd_pcm_format_t format : formats) {
    if (!tester.takes(format)) continue;
    std::vector<uint32_t> taken;
    for (const uint32_t rate : rates) {
      if (tester.takes(format, frameRate(format, rate))) taken.push_back(rate);
    }
    if (taken.empty()) continue;
    bool joined = false;
    for (FormatGroup& existing : groups) {
      if (existing.rates != taken) continue;
      existing.formats.push_back(format);
      joined = true;
      break;
    }
    if (!joined) groups.push_back({{format}, std::move(taken)});
  }
  return groups;
}

}  // namespace

uint32_t dsdFrameRate(snd_pcm_format_t format, uint32_t dsdRate) {
  const int bits = snd_pcm_format_physical_width(format);
  return bits > 0 ? dsdRate / static_cast<uint32_t>(bits) : 0;
}

Probe probeDevice(const std::string& name) {
  constexpr int kMode = SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS |
                        SND_PCM_NO_AUTO_FORMAT;
  auto [pcm, error] = alsa::openPcm(name.c_str(), SND_PCM_STREAM_PLAYBACK, kMode);
  if (error < 0) return ProbeFailure{ProbeFailure::Step::kOpen, error};

  alsa::HwParams stereo = alsa::newHwParams();
  if (!stereo) return ProbeFailure{ProbeFailure::Step::kOpen, -ENOMEM};
  int step = snd_pcm_hw_params_any(pcm.get(), stereo.get());
  if (step >= 0) {
    step = snd_pcm_hw_params_set_access(pcm.get(), stereo.get(), SND_PCM_ACCESS_RW_INTERLEAVED);
  }
  if (step >= 0) step = snd_pcm_hw_params_set_channels(pcm.get(), stereo.get(), 2);
  if (step < 0) return ProbeFailure{ProbeFailure::Step::kStereo, step};

  Tester tester(pcm.get(), stereo.get());
  DeviceOffer offer;
  offer.pcm =
      group(tester, kPcmFormats, kPcmRates, [](snd_pcm_format_t, uint32_t rate) { return rate; });
  offer.dsd = group(tester, kDsdFormats, kDsdRates, dsdFrameRate);
  return offer;
}

}  // namespace tavro::sink
