#pragma once
// The sound card a stream plays to: one alsa-lib PCM, opened for exactly the
// stream's samples and rate, with alsa-lib's resampling and its channel and
// format conversions off. What the card cannot take as it is, it is not
// given: the stream is refused instead. Owned by the thread that serves the
// stream.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sink/output/device_list.h"
#include "sink/output/device_output.h"

namespace tavro::sink {

// The ALSA backend: the card, and the listing (alsa_device_list.cpp).
std::unique_ptr<DeviceOutput> openAlsaOutput(const DeviceRequest& request, DeviceRefusal& refusal);
void listAlsaDevices(const LinePrinter& print);
std::vector<std::string> alsaDeviceNames();
std::string describeAlsaOffer(const std::string& name);

class AlsaOutput final : public DeviceOutput {
 public:
  // Null, with `refusal` filled in, when the card cannot play the request.
  static std::unique_ptr<AlsaOutput> open(const DeviceRequest& request, DeviceRefusal& refusal);
  ~AlsaOutput() override;
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  const std::string& name() const override { return name_; }
  DeviceSample sample() const override { return sample_; }
  uint32_t rate() const override { return rate_; }
  uint32_t periodFrames() const override { return periodFrames_; }
  uint32_t bufferFrames() const override { return bufferFrames_; }
  // "S24_3LE at 44100 Hz, 4 x 512 frames", for the log.
  std::string describe() const override;

  // The card's descriptors, for the caller's poll; at most `space`.
  int pollDescriptors(os::PollEntry* into, int space) override;
  // What the polled descriptors say: kOk also when there is nothing to do.
  DeviceStatus pollStatus(os::PollEntry* polled, int count) override;
  // Frames the card can take now (its free room), or the trouble.
  DeviceStatus avail(uint32_t& frames) override;
  // Queues every frame; on kUnderrun nothing of them was queued.
  DeviceStatus write(const uint8_t* frames, uint32_t count) override;
  // After an underrun: ready to be filled and started again.
  DeviceStatus recover() override;
  // Frames queued ahead of the one playing now; 0 when it cannot tell.
  uint32_t delayFrames() override;
  // Plays what is queued, for at most `limitNs`, then stops the card.
  void playOut(int64_t limitNs) override;

 private:
  AlsaOutput() = default;
  DeviceStatus classify(long result);

  snd_pcm_t* pcm_ = nullptr;
  std::string name_;
  DeviceSample sample_ = DeviceSample::kS16Le;
  uint32_t rate_ = 0;
  uint32_t periodFrames_ = 0;
  uint32_t bufferFrames_ = 0;
};

}  // namespace tavro::sink
