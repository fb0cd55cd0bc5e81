#include "sink/output/alsa/alsa_output.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "sink/os/clock.h"
#include "sink/output/alsa/alsa_messages.h"
#include "sink/output/alsa/busy_holder.h"

namespace tavro::sink {
namespace {

// Straight to the card: a plug layer that resamples or converts would make
// the stream play without being bit-exact.
constexpr int kOpenMode =
    SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT;

snd_pcm_format_t alsaFormat(DeviceSample sample) {
  switch (sample) {
    case DeviceSample::kS16Le:
      return SND_PCM_FORMAT_S16_LE;
    case DeviceSample::kS24_3Le:
      return SND_PCM_FORMAT_S24_3LE;
    case DeviceSample::kS24Le:
      return SND_PCM_FORMAT_S24_LE;
    case DeviceSample::kS32Le:
      return SND_PCM_FORMAT_S32_LE;
    case DeviceSample::kDsdU8:
      return SND_PCM_FORMAT_DSD_U8;
    case DeviceSample::kDsdU16Le:
      return SND_PCM_FORMAT_DSD_U16_LE;
    case DeviceSample::kDsdU16Be:
      return SND_PCM_FORMAT_DSD_U16_BE;
    case DeviceSample::kDsdU32Le:
      return SND_PCM_FORMAT_DSD_U32_LE;
    case DeviceSample::kDsdU32Be:
      return SND_PCM_FORMAT_DSD_U32_BE;
  }
  return SND_PCM_FORMAT_UNKNOWN;
}

struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;

struct SwParamsFree {
  void operator()(snd_pcm_sw_params_t* params) const { snd_pcm_sw_params_free(params); }
};
using SwParams = std::unique_ptr<snd_pcm_sw_params_t, SwParamsFree>;

HwParams newHwParams() {
  snd_pcm_hw_params_t* params = nullptr;
  snd_pcm_hw_params_malloc(&params);
  return HwParams(params);
}

void sleepNs(int64_t ns) {
  const timespec wait{static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
  ::nanosleep(&wait, nullptr);
}

// alsa-lib fills the system's own poll entries, which ours are laid out as.
pollfd* asPollFds(os::PollEntry* entries) { return reinterpret_cast<pollfd*>(entries); }

}  // namespace

std::unique_ptr<DeviceOutput> openAlsaOutput(const DeviceRequest& request, DeviceRefusal& refusal) {
  return AlsaOutput::open(request, refusal);
}

std::unique_ptr<AlsaOutput> AlsaOutput::open(const DeviceRequest& request, DeviceRefusal& refusal) {
  const std::string& name = request.name;
  auto refuse = [&](int code, const std::string& reason) {
    refusal = DeviceRefusal{code, reason};
    return nullptr;
  };
  takeOverAlsaMessages();
  std::unique_ptr<AlsaOutput> output(new AlsaOutput);
  output->name_ = name;
  forgetAlsaMessage();
  int result = snd_pcm_open(&output->pcm_, name.c_str(), SND_PCM_STREAM_PLAYBACK, kOpenMode);
  if (result < 0) {
    output->pcm_ = nullptr;
    if (result == -EBUSY) {
      const std::string holder = busyHolder(name);
      return refuse(1, "device " + name + " is busy" +
                           (holder.empty() ? "" : ": " + holder + " is playing to it"));
    }
    // The error alone says "No such file or directory" for a name alsa-lib
    // does not know; its own message says which name and why.
    const std::string said = latestAlsaMessage();
    return refuse(1, "cannot open device " + name + ": " + snd_strerror(result) +
                         (said.empty() ? "" : " (alsa-lib: " + said + ")"));
  }
  snd_pcm_t* pcm = output->pcm_;
  HwParams hw = newHwParams();
  HwParams trial = newHwParams();
  if (!hw || !trial || snd_pcm_hw_params_any(pcm, hw.get()) < 0) {
    return refuse(1, "device " + name + " reports no configuration");
  }
  if (snd_pcm_hw_params_set_access(pcm, hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0) {
    return refuse(3, "device " + name + " takes no interleaved writes");
  }
  if (snd_pcm_hw_params_set_channels(pcm, hw.get(), 2) < 0) {
    return refuse(3, "device " + name + " does not play 2 channels");
  }
  snd_pcm_hw_params_set_rate_resample(pcm, hw.get(), 0);

  // A format the card has at some rate, but not at this one, is the rate's
  // fault; no usable format at all is the format's.
  bool formatSeen = false;
  auto fits = [&](DeviceSample sample) {
    const snd_pcm_format_t format = alsaFormat(sample);
    if (snd_pcm_hw_params_test_format(pcm, hw.get(), format) < 0) return false;
    formatSeen = true;
    snd_pcm_hw_params_copy(trial.get(), hw.get());
    return snd_pcm_hw_params_set_format(pcm, trial.get(), format) == 0 &&
           snd_pcm_hw_params_test_rate(pcm, trial.get(), deviceRate(sample, request.rate), 0) == 0;
  };
  std::optional<DeviceSample> chosen;
  if (request.dopStream && request.dsd != DsdOutput::kDop) {
    for (const DeviceSample sample : dsdCandidates()) {
      if (fits(sample)) {
        chosen = sample;
        break;
      }
    }
    if (!chosen && request.dsd == DsdOutput::kNative) {
      return refuse(formatSeen ? 2 : 3,
                    "device " + name +
                        (formatSeen ? " plays native DSD, but not at DSD" +
                                          std::to_string(request.rate * 16 / 44100)
                                    : " has no native DSD format"));
    }
    formatSeen = false;
  }
  if (!chosen) {
    for (const DeviceSample sample : pcmCandidates(request.bits)) {
      if (fits(sample)) {
        chosen = sample;
        break;
      }
    }
  }
  if (!chosen) {
    const std::string what = std::to_string(request.bits) + "-bit";
    return refuse(
        formatSeen ? 2 : 3,
        formatSeen ? "device " + name + " does not play " + what + " samples at " +
                         std::to_string(request.rate) + " Hz"
                   : "device " + name + " has no format that holds " + what + " samples exactly");
  }
  output->sample_ = *chosen;
  output->rate_ = deviceRate(*chosen, request.rate);
  snd_pcm_hw_params_set_format(pcm, hw.get(), alsaFormat(*chosen));
  snd_pcm_hw_params_set_rate(pcm, hw.get(), output->rate_, 0);

  // One period per packet, so that each period the card plays asks for one.
  const SampleConverter sizing(request.bits, *chosen, request.dopStream);
  const uint32_t packetFrames = sizing.deviceFramesFor(request.packetFrames);
  snd_pcm_uframes_t period = packetFrames;
  snd_pcm_uframes_t buffer = uint64_t{packetFrames} * std::max<uint32_t>(request.bufferPackets, 2);
  int dir = 0;
  snd_pcm_hw_params_set_period_size_near(pcm, hw.get(), &period, &dir);
  snd_pcm_hw_params_set_buffer_size_near(pcm, hw.get(), &buffer);
  if ((result = snd_pcm_hw_params(pcm, hw.get())) < 0) {
    return refuse(3, "device " + name + " refuses the stream's set-up: " + snd_strerror(result));
  }
  snd_pcm_hw_params_get_period_size(hw.get(), &period, &dir);
  snd_pcm_hw_params_get_buffer_size(hw.get(), &buffer);
  output->periodFrames_ = static_cast<uint32_t>(period);
  output->bufferFrames_ = static_cast<uint32_t>(buffer);

  snd_pcm_sw_params_t* rawSw = nullptr;
  snd_pcm_sw_params_malloc(&rawSw);
  const SwParams sw(rawSw);
  // The card starts once the prefill is in, less half a packet for a
  // 32-bit DSD format whose packets alternate one frame shorter.
  const snd_pcm_uframes_t filled =
      std::min<snd_pcm_uframes_t>(buffer, uint64_t{packetFrames} * request.bufferPackets);
  if (!sw || snd_pcm_sw_params_current(pcm, sw.get()) < 0 ||
      snd_pcm_sw_params_set_start_threshold(pcm, sw.get(), filled - packetFrames / 2) < 0 ||
      snd_pcm_sw_params_set_avail_min(pcm, sw.get(), packetFrames) < 0 ||
      snd_pcm_sw_params(pcm, sw.get()) < 0 || snd_pcm_prepare(pcm) < 0) {
    return refuse(1, "device " + name + " cannot be prepared");
  }
  return output;
}

AlsaOutput::~AlsaOutput() {
  if (pcm_ != nullptr) snd_pcm_close(pcm_);
}

std::string AlsaOutput::describe() const {
  return std::string(sampleName(sample_)) + " at " + std::to_string(rate_) + " Hz, " +
         std::to_string(bufferFrames_ / std::max<uint32_t>(periodFrames_, 1)) + " x " +
         std::to_string(periodFrames_) + " frames";
}

DeviceStatus AlsaOutput::classify(long result) {
  if (result >= 0 || result == -EAGAIN || result == -EINTR) return DeviceStatus::kOk;
  if (result == -EPIPE || result == -ESTRPIPE) return DeviceStatus::kUnderrun;
  return DeviceStatus::kGone;
}

int AlsaOutput::pollDescriptors(os::PollEntry* into, int space) {
  const int count =
      snd_pcm_poll_descriptors(pcm_, asPollFds(into), static_cast<unsigned>(space));
  return count < 0 ? 0 : count;
}

DeviceStatus AlsaOutput::pollStatus(os::PollEntry* polled, int count) {
  unsigned short revents = 0;
  const int result = snd_pcm_poll_descriptors_revents(pcm_, asPollFds(polled),
                                                      static_cast<unsigned>(count), &revents);
  if (result < 0) return classify(result);
  if ((revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) return DeviceStatus::kOk;
  // An error on the descriptor says something happened, not what.
  uint32_t frames = 0;
  const DeviceStatus status = avail(frames);
  if (status != DeviceStatus::kOk) return status;
  return snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED ? DeviceStatus::kGone
                                                           : DeviceStatus::kOk;
}

DeviceStatus AlsaOutput::avail(uint32_t& frames) {
  const snd_pcm_sframes_t result = snd_pcm_avail_update(pcm_);
  frames = result > 0 ? static_cast<uint32_t>(result) : 0;
  return classify(result);
}

DeviceStatus AlsaOutput::write(const uint8_t* frames, uint32_t count) {
  const uint32_t frameBytes = 2 * sampleBytes(sample_);
  // Room was there when the packet was asked for; a card that takes less
  // now gets a short wait, not a busy loop.
  for (int attempt = 0; count > 0; ++attempt) {
    const snd_pcm_sframes_t result = snd_pcm_writei(pcm_, frames, count);
    if (result < 0) {
      const DeviceStatus status = classify(result);
      if (status != DeviceStatus::kOk) return status;
      if (attempt > 100) return DeviceStatus::kUnderrun;
      snd_pcm_wait(pcm_, 10);
      continue;
    }
    frames += static_cast<size_t>(result) * frameBytes;
    count -= static_cast<uint32_t>(result);
  }
  return DeviceStatus::kOk;
}

DeviceStatus AlsaOutput::recover() {
  return snd_pcm_recover(pcm_, -EPIPE, 1) < 0 ? DeviceStatus::kGone : DeviceStatus::kOk;
}

uint32_t AlsaOutput::delayFrames() {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(pcm_, &delay) < 0 || delay < 0) return 0;
  return static_cast<uint32_t>(delay);
}

void AlsaOutput::playOut(int64_t limitNs) {
  if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
    const snd_pcm_sframes_t room = snd_pcm_avail(pcm_);
    // A stream shorter than the prefill never reached the start threshold.
    if (room >= 0 && static_cast<uint32_t>(room) < bufferFrames_) snd_pcm_start(pcm_);
  }
  const int64_t until = os::monotonicNs() + limitNs;
  while (os::monotonicNs() < until && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= 0) break;
    sleepNs(std::min<int64_t>(int64_t{delay} * 1'000'000'000 / rate_ + 1'000'000, 10'000'000));
  }
  snd_pcm_drop(pcm_);
}

}  // namespace tavro::sink
