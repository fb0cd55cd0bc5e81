#pragma once
// A DAC played through WASAPI in exclusive mode, for DACs without an ASIO
// driver of their own (every USB Audio Class 2 DAC on Windows' own driver):
// no mixer and no resampling, the endpoint at the stream's own rate and
// samples. The endpoint's buffer is the stream's clock.
//
// One thread renders each stream, and it alone touches WASAPI: it opens the
// endpoint while the announcement is answered, then waits for the prefill,
// starts the endpoint and fills it, woken by the endpoint's event or, where
// the system refuses event-driven exclusive mode (Wine), every half period.
// The sink's thread writes frames into a HalfFeed and is woken through its
// Waker whenever frames were taken; flags and counters cross as atomics.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sink/os/waker.h"
#include "sink/output/device_output.h"
#include "sink/output/half_feed.h"
#include "sink/output/wasapi/wasapi_format.h"

namespace tavro::sink {

class WasapiOutput final : public DeviceOutput {
 public:
  static std::unique_ptr<DeviceOutput> open(const DeviceRequest& request, DeviceRefusal& refusal);
  ~WasapiOutput() override;
  WasapiOutput(const WasapiOutput&) = delete;
  WasapiOutput& operator=(const WasapiOutput&) = delete;

  const std::string& name() const override { return name_; }
  DeviceSample sample() const override { return layout_.sample; }
  uint32_t rate() const override { return rate_; }
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

 private:
  // How the render thread's set-up went, handed to open() once.
  struct SetUp {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ready = false;
    DeviceRefusal refusal;
  };

  WasapiOutput() = default;
  void render(const DeviceRequest& request, SetUp& setUp);
  bool prepare(const DeviceRequest& request, IMMDevice* device, DeviceRefusal& refusal);
  void feedEndpoint();
  bool fill(uint32_t frames);
  bool gone() const { return gone_.load(std::memory_order_acquire); }
  // On the render thread: no text is made there, nothing allocated.
  void fail();
  DeviceStatus status();
  void askStart();

  std::string name_;
  WasapiLayout layout_{};
  uint32_t rate_ = 0;
  uint32_t packetFrames_ = 0;
  std::unique_ptr<HalfFeed> feed_;
  os::Waker waker_;
  HANDLE bufferEvent_ = nullptr;  // the endpoint's: it wants a period filled
  HANDLE renderWake_ = nullptr;   // the sink's: start, or end
  std::thread thread_;

  // The render thread's own, set before open() returns and read-only after.
  ExclusiveStream stream_;
  ComRef<IAudioRenderClient> render_;
  REFERENCE_TIME latency_ = 0;

  std::atomic<bool> startAsked_{false};
  std::atomic<bool> quit_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> gone_{false};
  std::atomic<bool> endpointDry_{false};
  std::atomic<uint64_t> handedOver_{0};  // frames given to the endpoint
  std::atomic<uint32_t> padding_{0};     // of them, not yet played
};

}  // namespace tavro::sink
