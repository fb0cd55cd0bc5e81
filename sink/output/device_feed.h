#pragma once
// What goes into the card: each packet converted to the card's format, or
// silence in its place; the card's underruns, counted once it plays again;
// the delay it adds. The first packet settles how DSD plays: a stream
// announced as DSD that is not DoP plays as PCM, on the same card opened
// again for PCM.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sink/format/stream_format.h"
#include "sink/output/device_format.h"
#include "sink/output/device_output.h"

namespace tavro::sink {

class DeviceFeed {
 public:
  using Print = std::function<void(const std::string&)>;

  // `request` is what `device` was opened with.
  DeviceFeed(std::unique_ptr<DeviceOutput> device, DeviceRequest request,
             const StreamFormat& format, DopMode dop, Print print);

  // Each returns false once the card is gone. An underrun the card reports
  // is recovered from on the way, and leaves no room.
  bool avail(uint32_t& room);
  int pollDescriptors(os::PollEntry* into, int space) {
    return device_->pollDescriptors(into, space);
  }
  bool pollStatus(os::PollEntry* polled, int count);
  // A packet, or silence in its place when `packet` is null.
  bool play(const uint8_t* packet);
  // What the card holds plays out.
  void finish();

  const std::string& deviceName() const { return request_.name; }
  // A packet's frames at the card.
  uint32_t packetFrames() const { return packetFrames_; }
  // "hw:CARD=DAC: S24_3LE at 48000 Hz, ...", for the log.
  std::string describe() const;
  const char* formatName() const { return device_ ? sampleName(device_->sample()) : "-"; }
  // "native", "dop", or "-" for PCM.
  const std::string& dsd() const { return dsd_; }
  uint64_t underruns() const;
  uint64_t delayUs() const { return delaySamples_ == 0 ? 0 : delaySumUs_ / delaySamples_; }

 private:
  bool begin(const uint8_t* first);
  bool underrun();
  void warnIfUnderrunsClimb(int64_t now);

  static constexpr uint64_t kRecentUnderruns = 4;
  static constexpr int64_t kUnderrunWindowNs = 10'000'000'000;

  std::unique_ptr<DeviceOutput> device_;
  DeviceRequest request_;
  const StreamFormat format_;
  const DopMode dop_;
  const Print print_;
  std::optional<SampleConverter> converter_;
  std::vector<uint8_t> deviceBytes_;
  uint32_t packetFrames_ = 0;
  std::string dsd_ = "-";
  uint64_t underruns_ = 0;
  int64_t dryAtNs_ = 0;  // when the card runs out of what it was given
  bool dry_ = false;     // it ran out, and has had nothing since
  int64_t drySinceNs_ = 0;
  std::array<int64_t, kRecentUnderruns> recentUnderrunsNs_{};
  int64_t warnedNs_ = 0;     // when the stream was last said to be too fast
  uint64_t delaySumUs_ = 0;  // the card's queue after each packet, summed
  uint64_t delaySamples_ = 0;
};

}  // namespace tavro::sink
