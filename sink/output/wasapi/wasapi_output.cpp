#include "sink/output/wasapi/wasapi_output.h"

#include <algorithm>
#include <chrono>

#include "sink/os/thread_priority.h"
#include "sink/output/wasapi/wasapi_endpoints.h"

namespace tavro::sink {
namespace {

constexpr GUID kIidRenderClient = {
    0xf294acfc, 0x3146, 0x4483, {0xa7, 0xbf, 0xad, 0xdc, 0xa7, 0xc2, 0x60, 0xe2}};
constexpr REFERENCE_TIME kHnsPerMs = 10'000;
// An endpoint that has played less than a quarter of what the clock says
// over this long has gone: Wine's endpoint, when its ALSA device vanishes,
// takes frames only now and then, where Windows says
// AUDCLNT_E_DEVICE_INVALIDATED. Well under the two seconds a host waits for
// its driver, so that the sink, not the host's patience, ends the stream and
// says why.
constexpr int64_t kStallWindowNs = 500'000'000;
constexpr uint64_t kStallShare = 4;

bool refuse(DeviceRefusal& refusal, int code, std::string reason) {
  refusal.code = code;
  refusal.reason = std::move(reason);
  return false;
}

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::unique_ptr<DeviceOutput> WasapiOutput::open(const DeviceRequest& request,
                                                 DeviceRefusal& refusal) {
  std::unique_ptr<WasapiOutput> output(new WasapiOutput);
  output->name_ = request.name;
  const std::string shown = "device " + request.name;
  if (request.dopStream && request.dsd == DsdOutput::kNative) {
    refuse(refusal, 3,
           shown + " plays no native DSD: WASAPI has none (--dsd dop or auto sends it as DoP)");
    return nullptr;
  }
  int code = 0;
  if (!output->waker_.open(code)) {
    refuse(refusal, 1, shown + ": " + os::errorText(code));
    return nullptr;
  }
  output->bufferEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  output->renderWake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (output->bufferEvent_ == nullptr || output->renderWake_ == nullptr) {
    refuse(refusal, 1, shown + ": " + os::errorText(static_cast<int>(GetLastError())));
    return nullptr;
  }
  SetUp setUp;
  WasapiOutput* const rendering = output.get();
  output->thread_ =
      std::thread([rendering, &request, &setUp] { rendering->render(request, setUp); });
  std::unique_lock lock(setUp.mutex);
  setUp.done.wait(lock, [&] { return setUp.finished; });
  if (!setUp.ready) {
    refusal = setUp.refusal;
    return nullptr;  // the thread has ended, or ends and is joined here
  }
  return output;
}

WasapiOutput::~WasapiOutput() {
  quit_.store(true, std::memory_order_release);
  if (renderWake_ != nullptr) SetEvent(renderWake_);
  if (thread_.joinable()) thread_.join();
  if (bufferEvent_ != nullptr) CloseHandle(bufferEvent_);
  if (renderWake_ != nullptr) CloseHandle(renderWake_);
}

void WasapiOutput::render(const DeviceRequest& request, SetUp& setUp) {
  const ComApartment apartment;
  bool ready = false;
  {
    DeviceRefusal refusal;
    std::string error;
    ComRef<IMMDevice> device;
    if (!apartment.ready()) {
      refuse(refusal, 1, "device " + request.name + ": COM cannot be started for WASAPI");
    } else if (device = findEndpoint(request.name, error); !device) {
      refuse(refusal, 1, "device " + request.name + ": " + error);
    } else {
      ready = prepare(request, device.get(), refusal);
    }
    const std::lock_guard lock(setUp.mutex);
    setUp.ready = ready;
    setUp.refusal = refusal;
    setUp.finished = true;
    setUp.done.notify_one();
  }
  // `request` and `setUp` belong to open(), which returns now.
  if (ready) {
    // MMCSS "Pro Audio", as audio hosts' threads run.
    os::raiseThreadPriority();
    os::preciseWakeups();
    feedEndpoint();
    os::restoreThreadPriority();
  }
  render_.reset();
  stream_.client.reset();
}

bool WasapiOutput::prepare(const DeviceRequest& request, IMMDevice* device,
                           DeviceRefusal& refusal) {
  const std::string shown = "device " + request.name;
  const bool dop = request.dopStream;
  HRESULT last = AUDCLNT_E_UNSUPPORTED_FORMAT;
  bool opened = false;
  for (const WasapiLayout& layout : wasapiLayoutsFor(request.bits, dop)) {
    last = openExclusive(device, layout, request.rate, bufferEvent_, stream_);
    if (SUCCEEDED(last)) {
      layout_ = layout;
      opened = true;
      break;
    }
    if (last != AUDCLNT_E_UNSUPPORTED_FORMAT) break;
  }
  if (!opened) {
    if (last == AUDCLNT_E_DEVICE_IN_USE) {
      return refuse(refusal, 1, shown + " is held by another program in exclusive mode");
    }
    if (last != AUDCLNT_E_UNSUPPORTED_FORMAT) {
      return refuse(refusal, 1,
                    shown + " cannot be opened in exclusive mode: " + hresultText(last));
    }
    // Whether the rate or the samples are what it refuses: any layout at
    // the rate says the rate is fine.
    std::string taken;
    for (const WasapiLayout& layout : wasapiLayouts()) {
      ExclusiveStream probe;
      if (SUCCEEDED(openExclusive(device, layout, request.rate, nullptr, probe))) {
        taken += std::string(taken.empty() ? "" : ", ") + layout.name;
      }
    }
    const std::string what = dop ? std::string("DoP") : std::to_string(request.bits) + "-bit";
    if (taken.empty()) {
      return refuse(refusal, 2,
                    shown + " does not play " + what + " samples at " +
                        std::to_string(request.rate) + " Hz in exclusive mode");
    }
    return refuse(refusal, 3,
                  shown + " takes only " + taken + " at " + std::to_string(request.rate) +
                      " Hz, which does not hold " + what + " samples exactly");
  }
  HRESULT result = stream_.client->GetService(kIidRenderClient, render_.putVoid());
  if (FAILED(result)) {
    return refuse(refusal, 1, shown + " gives no render client: " + hresultText(result));
  }
  stream_.client->GetStreamLatency(&latency_);
  rate_ = request.rate;
  const SampleConverter sizing(request.bits, layout_.sample, false);
  packetFrames_ = std::max<uint32_t>(sizing.deviceFramesFor(request.packetFrames), 1);
  // As for an ASIO DAC: the endpoint takes up to its whole buffer at once,
  // so the feed holds that beyond the packets the card is meant to hold,
  // and its prefill ends half a packet before the last whole one.
  HalfFeedShape shape;
  shape.sampleBytes = sampleBytes(layout_.sample);
  shape.channels = 2;
  shape.halfFrames = stream_.bufferFrames;
  shape.capacityFrames =
      stream_.bufferFrames + packetFrames_ * std::max<uint32_t>(request.bufferPackets, 2);
  shape.startFrames = shape.capacityFrames / packetFrames_ * packetFrames_ - packetFrames_ / 2;
  feed_ = std::make_unique<HalfFeed>(shape);
  return true;
}

void WasapiOutput::feedEndpoint() {
  // Not started until the prefill is in, or the stream ends before it is.
  while (!startAsked_.load(std::memory_order_acquire)) {
    if (quit_.load(std::memory_order_acquire)) return;
    WaitForSingleObject(renderWake_, INFINITE);
  }
  if (quit_.load(std::memory_order_acquire)) return;
  // The first buffer goes in before Start, so the endpoint begins full.
  if (!fill(stream_.bufferFrames)) return;
  if (FAILED(stream_.client->Start())) {
    fail();
    return;
  }
  started_.store(true, std::memory_order_release);
  const bool onEvent = stream_.clocking == WasapiClocking::kEvent;
  const DWORD halfPeriodMs = std::max<DWORD>(1, static_cast<DWORD>(stream_.period / kHnsPerMs / 2));
  const HANDLE waits[2] = {renderWake_, bufferEvent_};
  uint64_t playedAtWindow = 0;
  int64_t windowStartNs = nowNs();
  while (!quit_.load(std::memory_order_acquire) && !gone()) {
    // Event-driven, the endpoint is filled when it asks, timer-driven each
    // half period; either way with what its buffer has free.
    const bool asked =
        onEvent ? WaitForMultipleObjects(2, waits, FALSE, halfPeriodMs * 4) == WAIT_OBJECT_0 + 1
                : WaitForSingleObject(renderWake_, halfPeriodMs) == WAIT_TIMEOUT;
    if (quit_.load(std::memory_order_acquire)) break;
    UINT32 padding = 0;
    if (FAILED(stream_.client->GetCurrentPadding(&padding))) {
      fail();
      break;
    }
    padding_.store(padding, std::memory_order_release);
    const uint64_t played = handedOver_.load(std::memory_order_relaxed) - padding;
    const int64_t now = nowNs();
    if (now - windowStartNs >= kStallWindowNs) {
      const uint64_t due = static_cast<uint64_t>(now - windowStartNs) * rate_ / 1'000'000'000;
      if ((played - playedAtWindow) * kStallShare < due) {
        fail();
        break;
      }
      playedAtWindow = played;
      windowStartNs = now;
    }
    // Timer-driven, an endpoint found empty has played silence of its own
    // (Wine's does, to keep its card from running dry): the sink was late,
    // and counts it as the underrun it is.
    if (!onEvent && asked && padding == 0 && !feed_->draining()) {
      endpointDry_.store(true, std::memory_order_release);
    }
    // Event-driven exclusive mode takes a whole buffer at each event, whatever
    // the padding says (its other buffer may count in it).
    const uint32_t free = onEvent ? stream_.bufferFrames
                                  : stream_.bufferFrames - std::min(padding, stream_.bufferFrames);
    if (asked && free > 0 && !fill(free)) break;
  }
  stream_.client->Stop();
}

bool WasapiOutput::fill(uint32_t frames) {
  BYTE* data = nullptr;
  HRESULT result = render_->GetBuffer(frames, &data);
  if (SUCCEEDED(result)) {
    feed_->takeFrames(data, frames);
    result = render_->ReleaseBuffer(frames, 0);
  }
  if (FAILED(result)) {
    fail();
    return false;
  }
  handedOver_.fetch_add(frames, std::memory_order_acq_rel);
  waker_.wake();
  return true;
}

void WasapiOutput::fail() {
  // AUDCLNT_E_DEVICE_INVALIDATED (unplugged, or its format changed in the
  // control panel) and every other failure alike: for the stream, the
  // endpoint is gone, and the next announcement opens it again.
  gone_.store(true, std::memory_order_release);
  waker_.wake();
}

std::string WasapiOutput::describe() const {
  const bool onEvent = stream_.clocking == WasapiClocking::kEvent;
  return std::string(layout_.name) + " (" + sampleName(layout_.sample) + ") at " +
         std::to_string(rate_) + " Hz, exclusive mode, " +
         (onEvent ? "event-driven" : "timer-driven (the system refuses event-driven)") +
         ", a buffer of " + std::to_string(stream_.bufferFrames) + " frames, " +
         std::to_string(feed_->shape().capacityFrames) + " frames queued at most";
}

int WasapiOutput::pollDescriptors(os::PollEntry* into, int space) {
  if (space < 1) return 0;
  into[0] = os::readable(waker_.watched());
  return 1;
}

DeviceStatus WasapiOutput::pollStatus(os::PollEntry* polled, int count) {
  if (count > 0 && polled[0].revents != 0) waker_.drain();
  return status();
}

DeviceStatus WasapiOutput::status() {
  if (gone()) return DeviceStatus::kGone;
  const bool dry = endpointDry_.exchange(false, std::memory_order_acq_rel);
  if (feed_->takeUnderrun() || dry) return DeviceStatus::kUnderrun;
  return DeviceStatus::kOk;
}

DeviceStatus WasapiOutput::avail(uint32_t& frames) {
  frames = feed_->room();
  return status();
}

void WasapiOutput::askStart() {
  if (startAsked_.exchange(true, std::memory_order_acq_rel)) return;
  SetEvent(renderWake_);
}

DeviceStatus WasapiOutput::write(const uint8_t* frames, uint32_t count) {
  if (gone()) return DeviceStatus::kGone;
  if (feed_->room() < count)
    return DeviceStatus::kUnderrun;  // nothing queued, as the contract says
  feed_->write(frames, count);
  if (feed_->queued() >= feed_->shape().startFrames) askStart();
  return DeviceStatus::kOk;
}

uint32_t WasapiOutput::delayFrames() {
  return feed_->queued() + padding_.load(std::memory_order_acquire);
}

void WasapiOutput::playOut(int64_t limitNs) {
  feed_->drain();
  if (feed_->queued() > 0) askStart();
  if (!startAsked_.load(std::memory_order_acquire)) return;
  const int64_t until = nowNs() + limitNs;
  auto waitFor = [&](auto done) {
    while (!gone() && !done() && nowNs() < until) Sleep(2);
  };
  waitFor([&] { return feed_->queued() == 0 && started_.load(std::memory_order_acquire); });
  // The last frame was handed over by now; it has played once the endpoint
  // has played past it and past what its own latency holds beyond that.
  // Stop throws away what is not yet played (Wine: thousands of frames).
  const uint64_t end = handedOver_.load(std::memory_order_acquire);
  const uint64_t beyond =
      static_cast<uint64_t>(latency_) * rate_ / 10'000'000 + stream_.bufferFrames;
  waitFor([&] {
    return handedOver_.load(std::memory_order_acquire) - padding_.load(std::memory_order_acquire) >=
           end + beyond;
  });
}

}  // namespace tavro::sink
