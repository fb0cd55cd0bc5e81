#pragma once
// Sound cards for machines without one: our ALSA test plugin's devices,
// declared in an ALSA configuration of their own that replaces the system's
// for this process and the processes it starts ($ALSA_CONFIG_PATH), so
// alsa-lib sees these devices and no others while the object lives.
//
// Each device takes 2 channels of the listed formats and rates at the pace of
// the monotonic clock and keeps every byte played; a test can stall it,
// unplug it or occupy it from another thread while something plays to it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavro::testing {

struct TestPcm {
  std::string name;         // the ALSA PCM name, as given to snd_pcm_open
  std::string formats;      // "S16_LE S24_3LE DSD_U32_BE": snd_pcm_format_value names
  std::string rates;        // "44100 48000": only these are accepted
  std::string description;  // what snd_device_name_hint shows as DESC
};

class TestSoundCard {
 public:
  // Writes `dir`/asound.conf, with each device's capture file and control
  // directory beside it, and points alsa-lib at it.
  TestSoundCard(const std::filesystem::path& dir, const std::vector<TestPcm>& pcms);
  ~TestSoundCard();
  TestSoundCard(const TestSoundCard&) = delete;
  TestSoundCard& operator=(const TestSoundCard&) = delete;

  const std::filesystem::path& configFile() const { return config_; }

  // Every byte played to `pcm` so far, in order, across opens.
  std::vector<uint8_t> captured(const std::string& pcm) const;

  // The next write to `pcm` is held for `ms` milliseconds while its clock runs on.
  void stall(const std::string& pcm, int ms) const;
  // `pcm` is unplugged: calls on it fail with -ENODEV, and so do opens...
  void vanish(const std::string& pcm) const;
  // ...until it is back.
  void comeBack(const std::string& pcm) const;
  // While busy, opening `pcm` fails with -EBUSY.
  void busy(const std::string& pcm, bool held) const;

 private:
  std::filesystem::path captureFile(const std::string& pcm) const;
  std::filesystem::path controlDir(const std::string& pcm) const;

  std::filesystem::path dir_;
  std::filesystem::path config_;
  std::optional<std::string> previousConfigPath_;
};

}  // namespace tavro::testing
