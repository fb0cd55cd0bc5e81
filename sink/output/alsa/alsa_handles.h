#pragma once
// Owners for what alsa-lib hands out, so that every early return closes the
// device or frees the block it got.
#include <alsa/asoundlib.h>

#include <cstdlib>
#include <memory>

namespace tavro::sink::alsa {

struct PcmClose {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
struct CtlClose {
  void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};
struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
struct CardInfoFree {
  void operator()(snd_ctl_card_info_t* info) const { snd_ctl_card_info_free(info); }
};
struct PcmInfoFree {
  void operator()(snd_pcm_info_t* info) const { snd_pcm_info_free(info); }
};
struct HintsFree {
  void operator()(void** hints) const { snd_device_name_free_hint(hints); }
};
struct MallocFree {
  void operator()(char* text) const { std::free(text); }
};

using Pcm = std::unique_ptr<snd_pcm_t, PcmClose>;
using Ctl = std::unique_ptr<snd_ctl_t, CtlClose>;
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;
using CardInfo = std::unique_ptr<snd_ctl_card_info_t, CardInfoFree>;
using PcmInfo = std::unique_ptr<snd_pcm_info_t, PcmInfoFree>;
using Hints = std::unique_ptr<void*, HintsFree>;
using CText = std::unique_ptr<char, MallocFree>;

// A handle, or the negative errno alsa-lib gave instead.
template <typename Handle>
struct Opened {
  Handle handle;
  int error = 0;
};

inline Opened<Pcm> openPcm(const char* name, snd_pcm_stream_t stream, int mode) {
  snd_pcm_t* pcm = nullptr;
  const int error = snd_pcm_open(&pcm, name, stream, mode);
  return {Pcm(error < 0 ? nullptr : pcm), error < 0 ? error : 0};
}

inline Opened<Ctl> openCtl(const char* name) {
  snd_ctl_t* ctl = nullptr;
  const int error = snd_ctl_open(&ctl, name, 0);
  return {Ctl(error < 0 ? nullptr : ctl), error < 0 ? error : 0};
}

// Null only when memory ran out.
inline HwParams newHwParams() {
  snd_pcm_hw_params_t* params = nullptr;
  return HwParams(snd_pcm_hw_params_malloc(&params) < 0 ? nullptr : params);
}
inline CardInfo newCardInfo() {
  snd_ctl_card_info_t* info = nullptr;
  return CardInfo(snd_ctl_card_info_malloc(&info) < 0 ? nullptr : info);
}
inline PcmInfo newPcmInfo() {
  snd_pcm_info_t* info = nullptr;
  return PcmInfo(snd_pcm_info_malloc(&info) < 0 ? nullptr : info);
}

}  // namespace tavro::sink::alsa
