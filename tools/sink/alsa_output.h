#pragma once
// The sound card a stream plays to: one alsa-lib PCM, opened for exactly the
// stream's samples and rate, with alsa-lib's resampling and its channel and
// format conversions off. What the card cannot take as it is, it is not
// given: the stream is refused instead. Owned by the thread that serves the
// stream.
#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstdint>
#include <memory>
#include <string>

#include "sink/device_format.h"

namespace tavro::sink {

// What a DoP stream becomes at the card.
enum class DsdOutput {
  kDop,     // DoP frames passed through as PCM: any DoP DAC decodes them
  kNative,  // the card's own DSD format
  kAuto,    // native when the card has a DSD format at the rate, else DoP
};

const char* dsdOutputName(DsdOutput output);

struct DeviceRequest {
  std::string name;
  uint32_t bits = 24;
  uint32_t rate = 0;          // as announced
  uint32_t packetFrames = 0;  // frames per packet on the wire
  bool dopStream = false;     // the stream's 24-bit samples are DoP
  DsdOutput dsd = DsdOutput::kDop;
  uint32_t bufferPackets = 4;
};

// Why a card cannot play a stream, as the announcement's answer tells the
// driver: 1 the card is absent or busy, 2 it refuses the rate, 3 the format.
struct DeviceRefusal {
  int code = 0;
  std::string reason;
};

// How a write or a wait at the card went.
enum class DeviceStatus { kOk, kUnderrun, kGone };

class AlsaOutput {
 public:
  // Null, with `refusal` filled in, when the card cannot play the request.
  static std::unique_ptr<AlsaOutput> open(const DeviceRequest& request, DeviceRefusal& refusal);
  ~AlsaOutput();
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  const std::string& name() const { return name_; }
  DeviceSample sample() const { return sample_; }
  uint32_t rate() const { return rate_; }
  uint32_t periodFrames() const { return periodFrames_; }
  uint32_t bufferFrames() const { return bufferFrames_; }
  // "S24_3LE at 44100 Hz, 4 x 512 frames", for the log.
  std::string describe() const;

  // The card's descriptors, for the caller's poll; at most `space`.
  int pollDescriptors(pollfd* into, int space);
  // What the polled descriptors say: kOk also when there is nothing to do.
  DeviceStatus pollStatus(pollfd* polled, int count);
  // Frames the card can take now (its free room), or the trouble.
  DeviceStatus avail(uint32_t& frames);
  // Queues every frame; on kUnderrun nothing of them was queued.
  DeviceStatus write(const uint8_t* frames, uint32_t count);
  // After an underrun: ready to be filled and started again.
  DeviceStatus recover();
  // Frames queued ahead of the one playing now; 0 when it cannot tell.
  uint32_t delayFrames();
  // Plays what is queued, for at most `limitNs`, then stops the card.
  void playOut(int64_t limitNs);

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
