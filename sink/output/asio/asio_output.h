#pragma once
// A DAC played through its maker's ASIO driver: the sink is then the ASIO
// host, and the driver's bufferSwitch is the stream's clock. Every call the
// sink makes to the driver runs on the driver's host thread; bufferSwitch
// and asioMessage come from the driver's own thread and touch nothing but
// the feed, two flags and the waker. One ASIO stream at a time: the
// callbacks carry no context, so they find the open output through one
// process-wide pointer.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "asio/asio.h"
#include "sink/os/waker.h"
#include "sink/output/asio/asio_drivers.h"
#include "sink/output/asio/asio_host_thread.h"
#include "sink/output/device_output.h"
#include "sink/output/half_feed.h"

namespace tavro::sink {

class AsioOutput final : public DeviceOutput {
 public:
  static std::unique_ptr<DeviceOutput> open(const DeviceRequest& request, DeviceRefusal& refusal);
  ~AsioOutput() override;
  AsioOutput(const AsioOutput&) = delete;
  AsioOutput& operator=(const AsioOutput&) = delete;

  const std::string& name() const override { return name_; }
  DeviceSample sample() const override { return sample_; }
  uint32_t rate() const override { return deviceRate_; }
  uint32_t periodFrames() const override { return packetFrames_; }
  uint32_t bufferFrames() const override { return feed_->shape().capacityFrames; }
  std::string describe() const override;

  int pollDescriptors(os::PollEntry* into, int space) override;
  DeviceStatus pollStatus(os::PollEntry* polled, int count) override;
  DeviceStatus avail(uint32_t& frames) override;
  DeviceStatus write(const uint8_t* frames, uint32_t count) override;
  DeviceStatus recover() override { return gone() ? DeviceStatus::kGone : DeviceStatus::kOk; }
  uint32_t delayFrames() override;
  void playOut(int64_t limitNs) override;

  // The driver's thread.
  void bufferSwitch(int32_t half);
  int32_t message(int32_t selector, int32_t value);

 private:
  AsioOutput() = default;
  bool setUp(const DeviceRequest& request, DeviceRefusal& refusal);
  bool gone() const { return gone_.load(std::memory_order_acquire); }
  DeviceStatus status();
  bool startDriver();

  AsioHostThread host_;
  std::unique_ptr<AsioDriverHandle> handle_;  // made, used and released on host_
  os::Waker waker_;
  std::string name_;
  std::string typeName_;
  DeviceSample sample_ = DeviceSample::kS32Le;
  bool dsd_ = false;
  double asioRate_ = 0;
  uint32_t deviceRate_ = 0;
  uint32_t packetFrames_ = 0;
  bool useOutputReady_ = false;
  bool started_ = false;
  bool claimed_ = false;
  std::unique_ptr<HalfFeed> feed_;
  asio::AsioBufferInfo buffers_[2]{};
  std::atomic<bool> gone_{false};
};

}  // namespace tavro::sink
