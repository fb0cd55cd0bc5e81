#include "sink/output/alsa/alsa_output.h"

#include <string_view>
#include <vector>

#include "sink/output/alsa/alsa_handles.h"
#include "sink/output/alsa/alsa_messages.h"
#include "sink/output/alsa/busy_holder.h"
#include "sink/output/alsa/device_probe.h"

namespace tavro::sink {
namespace {

struct Device {
  std::string name;
  std::string description;
  int cardError = 0;  // the card's control could not be read, so its PCMs are unknown
};

void addCardDevices(int card, std::vector<Device>& out) {
  const std::string control = "hw:" + std::to_string(card);
  auto [ctl, error] = alsa::openCtl(control.c_str());
  alsa::CardInfo cardInfo = alsa::newCardInfo();
  alsa::PcmInfo pcmInfo = alsa::newPcmInfo();
  if (error == 0 && (!cardInfo || !pcmInfo)) error = -ENOMEM;
  if (error == 0) error = snd_ctl_card_info(ctl.get(), cardInfo.get());
  if (error < 0) {
    out.push_back({control, {}, error});
    return;
  }
  const std::string id = snd_ctl_card_info_get_id(cardInfo.get());
  const std::string cardName = snd_ctl_card_info_get_name(cardInfo.get());
  int device = -1;
  while (snd_ctl_pcm_next_device(ctl.get(), &device) == 0 && device >= 0) {
    snd_pcm_info_set_device(pcmInfo.get(), static_cast<unsigned>(device));
    snd_pcm_info_set_subdevice(pcmInfo.get(), 0);
    snd_pcm_info_set_stream(pcmInfo.get(), SND_PCM_STREAM_PLAYBACK);
    if (snd_ctl_pcm_info(ctl.get(), pcmInfo.get()) < 0) continue;  // capture only
    out.push_back({"hw:CARD=" + id + ",DEV=" + std::to_string(device),
                   cardName + ": " + snd_pcm_info_get_name(pcmInfo.get())});
  }
}

std::string hintText(const void* hint, const char* field) {
  const alsa::CText text(snd_device_name_get_hint(hint, field));
  return text ? std::string(text.get()) : std::string();
}

// Names with ':' are the per-card forms of the cards listed already, or take
// arguments; "default" and "null" are no DAC.
void addDeclaredDevices(std::vector<Device>& out) {
  void** raw = nullptr;
  if (snd_device_name_hint(-1, "pcm", &raw) < 0) return;
  const alsa::Hints hints(raw);
  for (void** hint = raw; *hint != nullptr; ++hint) {
    const std::string name = hintText(*hint, "NAME");
    if (name.empty() || name.find(':') != std::string::npos || name == "null" ||
        name == "default" || hintText(*hint, "IOID") == "Input") {
      continue;
    }
    std::string description = hintText(*hint, "DESC");
    for (size_t at; (at = description.find('\n')) != std::string::npos;) {
      description.replace(at, 1, ", ");
    }
    out.push_back({name, description});
  }
}

std::vector<Device> playbackDevices() {
  std::vector<Device> devices;
  for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) addCardDevices(card, devices);
  addDeclaredDevices(devices);
  return devices;
}

std::string groupLine(std::string_view label, const FormatGroup& group, bool dsd) {
  std::string line(label);
  for (const snd_pcm_format_t format : group.formats) {
    line += ' ';
    line += snd_pcm_format_name(format);
  }
  line += " at";
  for (const uint32_t rate : group.rates) {
    line += dsd ? " DSD" + std::to_string(64 * (rate / kDsd64)) : ' ' + std::to_string(rate);
  }
  return line;
}

std::vector<std::string> offerLines(const DeviceOffer& offer) {
  std::vector<std::string> lines;
  for (const FormatGroup& group : offer.pcm) lines.push_back(groupLine("PCM:", group, false));
  if (offer.pcm.empty()) lines.emplace_back("PCM: none");
  for (const FormatGroup& group : offer.dsd) lines.push_back(groupLine("DSD native:", group, true));
  if (offer.dsd.empty()) lines.emplace_back("DSD native: none");
  return lines;
}

std::string failureLine(const std::string& name, const ProbeFailure& failure) {
  if (failure.step == ProbeFailure::Step::kStereo) {
    return "takes no interleaved 2-channel stream: " + std::string(snd_strerror(failure.error));
  }
  switch (failure.error) {
    case -EBUSY: {
      const std::string holder = busyHolder(name);
      return holder.empty() ? "busy: another program has it open" : "busy: held by " + holder;
    }
    case -EACCES:
    case -EPERM:
      return "cannot open: permission denied; is this user in group audio?";
    default:
      return "cannot open: " + std::string(snd_strerror(failure.error));
  }
}

std::vector<std::string> describe(const std::string& name) {
  const Probe probe = probeDevice(name);
  if (const auto* failure = std::get_if<ProbeFailure>(&probe)) return {failureLine(name, *failure)};
  return offerLines(std::get<DeviceOffer>(probe));
}

}  // namespace

void listAlsaDevices(const LinePrinter& print) {
  takeOverAlsaMessages();
  const std::vector<Device> devices = playbackDevices();
  if (devices.empty()) {
    print("No playback devices found. Is the DAC plugged in and switched on, and is this");
    print("user in group audio (see `id`)?");
    return;
  }
  for (const Device& device : devices) {
    print(device.description.empty() ? device.name
                                     : device.name + "  \"" + device.description + "\"");
    if (device.cardError < 0) {
      print("  cannot read the card: " + std::string(snd_strerror(device.cardError)));
      continue;
    }
    for (const std::string& line : describe(device.name)) print("  " + line);
  }
}

std::vector<std::string> alsaDeviceNames() {
  std::vector<std::string> names;
  for (const Device& device : playbackDevices()) names.push_back(device.name);
  return names;
}

std::string describeAlsaOffer(const std::string& name) {
  takeOverAlsaMessages();
  std::string text;
  for (const std::string& line : describe(name)) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

}  // namespace tavro::sink
