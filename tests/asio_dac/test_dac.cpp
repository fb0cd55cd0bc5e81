#include "asio_dac/test_dac.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tavro::testing {
namespace {

using namespace std::chrono;

uint64_t steadyNs() {
  return static_cast<uint64_t>(
      duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void copyText(char* out, const std::string& text, size_t room) {
  std::strncpy(out, text.c_str(), room - 1);
  out[room - 1] = '\0';
}

}  // namespace

std::atomic<int32_t>& liveTestDacObjects() {
  static std::atomic<int32_t> live{0};
  return live;
}

TestDac::~TestDac() {
  disposeBuffers();
  liveTestDacObjects().fetch_sub(1);
}

com::HResult TAVRO_STDCALL TestDac::QueryInterface(const com::Guid& iid, void** out) {
  if (out == nullptr) return com::kEPointer;
  // Hosts ask for the driver by its class id, as if it were an interface id.
  if (iid == com::kIidIUnknown || iid == kTestDacClassId) {
    AddRef();
    *out = this;
    return com::kSOk;
  }
  *out = nullptr;
  return com::kENoInterface;
}

uint32_t TAVRO_STDCALL TestDac::AddRef() { return references_.fetch_add(1) + 1; }

uint32_t TAVRO_STDCALL TestDac::Release() {
  const uint32_t left = references_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

asio::AsioError TestDac::fail(asio::AsioError code, const std::string& text) {
  error_ = text;
  return code;
}

bool TestDac::controlFile(const char* name) const {
  std::error_code ignored;
  return !config_.control.empty() &&
         std::filesystem::exists(std::filesystem::path(config_.control) / name, ignored);
}

int TestDac::takeStallMs() const {
  if (!controlFile("stall")) return 0;
  const auto path = std::filesystem::path(config_.control) / "stall";
  int ms = 0;
  std::ifstream(path) >> ms;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return ms;
}

asio::AsioBool TAVRO_THISCALL TestDac::init(void*) {
  if (initialised_) return asio::kAsioTrue;
  const char* path = std::getenv("TAVRO_TEST_DAC_CONFIG");
  if (path == nullptr) {
    error_ = "TAVRO_TEST_DAC_CONFIG names no configuration";
    return asio::kAsioFalse;
  }
  if (!readTestDacConfig(path, config_, error_)) return asio::kAsioFalse;
  if (controlFile("refuse-init")) {
    error_ = "the test DAC is switched off";
    return asio::kAsioFalse;
  }
  rate_ = config_.rates.empty() ? 44100 : config_.rates.front();
  initialised_ = true;
  return asio::kAsioTrue;
}

void TAVRO_THISCALL TestDac::getDriverName(char* name) { copyText(name, kTestDacName, 32); }

void TAVRO_THISCALL TestDac::getErrorMessage(char* text) { copyText(text, error_, 124); }

asio::AsioError TAVRO_THISCALL TestDac::getChannels(int32_t* inputs, int32_t* outputs) {
  if (!initialised_) return asio::kAseNotPresent;
  if (inputs != nullptr) *inputs = 0;
  if (outputs != nullptr) *outputs = 2;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::getLatencies(int32_t* input, int32_t* output) {
  if (!initialised_) return asio::kAseNotPresent;
  if (input != nullptr) *input = 0;
  if (output != nullptr) *output = halfSamples();
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::getBufferSize(int32_t* minSize, int32_t* maxSize,
                                                      int32_t* preferredSize,
                                                      int32_t* granularity) {
  if (!initialised_) return asio::kAseNotPresent;
  *minSize = *maxSize = *preferredSize = halfSamples();
  *granularity = 0;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::canSampleRate(asio::AsioSampleRate rate) {
  if (!initialised_) return asio::kAseNotPresent;
  const auto& rates = takenRates();
  return std::find(rates.begin(), rates.end(), rate) != rates.end() ? asio::kAseOk
                                                                     : asio::kAseNoClock;
}

asio::AsioError TAVRO_THISCALL TestDac::getSampleRate(asio::AsioSampleRate* rate) {
  if (!initialised_) return asio::kAseNotPresent;
  *rate = rate_;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::setSampleRate(asio::AsioSampleRate rate) {
  if (canSampleRate(rate) != asio::kAseOk) return fail(asio::kAseNoClock, "rate not taken");
  if (running_.load()) return fail(asio::kAseInvalidMode, "the rate cannot change while playing");
  rate_ = rate;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::getClockSources(asio::AsioClockSource* clocks,
                                                        int32_t* count) {
  if (clocks == nullptr || count == nullptr || *count < 1) return asio::kAseInvalidParameter;
  *clocks = asio::AsioClockSource{0, -1, 0, asio::kAsioTrue, {}};
  copyText(clocks->name, "Internal", sizeof(clocks->name));
  *count = 1;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::setClockSource(int32_t index) {
  return index == 0 ? asio::kAseOk : asio::kAseInvalidParameter;
}

asio::AsioError TAVRO_THISCALL TestDac::getSamplePosition(asio::AsioSamples* position,
                                                          asio::AsioTimeStamp* stamp) {
  if (!running_.load()) return asio::kAseSpNotAdvancing;
  const uint64_t samples = samplesPlayed_.load();
  const uint64_t now = steadyNs();
  *position = {static_cast<uint32_t>(samples >> 32), static_cast<uint32_t>(samples)};
  *stamp = {static_cast<uint32_t>(now >> 32), static_cast<uint32_t>(now)};
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::getChannelInfo(asio::AsioChannelInfo* info) {
  if (!initialised_) return asio::kAseNotPresent;
  if (info->isInput != asio::kAsioFalse || info->channel < 0 || info->channel > 1) {
    return asio::kAseInvalidParameter;
  }
  info->isActive = hasBuffers_ ? asio::kAsioTrue : asio::kAsioFalse;
  info->channelGroup = 0;
  info->type = dsd_ ? asio::kDsdInt8Msb1 : config_.type;
  copyText(info->name, info->channel == 0 ? "Out 1" : "Out 2", sizeof(info->name));
  return asio::kAseOk;
}

size_t TestDac::halfBytes() const {
  return dsd_ ? static_cast<size_t>(halfSamples()) / 8
              : static_cast<size_t>(halfSamples()) * bytesPerSample(config_.type);
}

asio::AsioError TAVRO_THISCALL TestDac::createBuffers(asio::AsioBufferInfo* infos, int32_t count,
                                                      int32_t bufferSize,
                                                      asio::AsioCallbacks* callbacks) {
  if (!initialised_) return asio::kAseNotPresent;
  if (hasBuffers_) return fail(asio::kAseInvalidMode, "buffers exist already");
  if (controlFile("refuse-buffers")) return fail(asio::kAseHwMalfunction, "the test DAC has no memory left");
  if (callbacks == nullptr || callbacks->bufferSwitch == nullptr || bufferSize != halfSamples() ||
      count < 1 || count > 2) {
    return fail(asio::kAseInvalidParameter, "buffers the test DAC cannot make");
  }
  for (int32_t i = 0; i < count; ++i) {
    if (infos[i].isInput != asio::kAsioFalse || infos[i].channelNum < 0 || infos[i].channelNum > 1) {
      return fail(asio::kAseInvalidParameter, "the test DAC has two outputs and no inputs");
    }
  }
  for (auto& channel : buffers_) {
    for (auto& half : channel) half.assign(halfBytes(), 0);
  }
  for (int32_t i = 0; i < count; ++i) {
    infos[i].buffers[0] = buffers_[infos[i].channelNum][0].data();
    infos[i].buffers[1] = buffers_[infos[i].channelNum][1].data();
  }
  interleaved_.assign(2 * halfBytes(), 0);
  callbacks_ = *callbacks;
  hasBuffers_ = true;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::disposeBuffers() {
  stop();
  for (auto& channel : buffers_) {
    for (auto& half : channel) std::vector<uint8_t>().swap(half);
  }
  hasBuffers_ = false;
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::start() {
  if (!hasBuffers_) return fail(asio::kAseInvalidMode, "no buffers");
  if (running_.load()) return asio::kAseOk;
  capturedBefore_ = 0;
  if (!config_.capture.empty()) {
    std::error_code missing;
    const uintmax_t bytes = std::filesystem::file_size(config_.capture, missing);
    if (!missing) {
      capturedBefore_ = dsd_ ? bytes / 2 * 8 : bytes / (2 * bytesPerSample(config_.type));
    }
    capture_ = std::fopen(config_.capture.c_str(), "ab");
    if (capture_ == nullptr) return fail(asio::kAseHwMalfunction, "cannot open the capture file");
  }
  if (!starts_.open(config_.starts)) {
    return fail(asio::kAseHwMalfunction, "cannot open the starts log");
  }
  samplesPlayed_ = 0;
  running_ = true;
  clock_ = std::thread([this] { runClock(); });
  return asio::kAseOk;
}

asio::AsioError TAVRO_THISCALL TestDac::stop() {
  running_ = false;
  if (clock_.joinable()) clock_.join();
  if (capture_ != nullptr) {
    std::fclose(capture_);
    capture_ = nullptr;
  }
  starts_.close();
  return asio::kAseOk;
}

void TestDac::capture(int half) {
  if (capture_ == nullptr) return;
  // PCM frame by frame; DSD byte by byte, each byte eight samples of one channel.
  const size_t step = dsd_ ? 1 : static_cast<size_t>(bytesPerSample(config_.type));
  const size_t bytes = halfBytes();
  uint8_t* out = interleaved_.data();
  for (size_t at = 0; at < bytes; at += step) {
    for (const auto& channel : buffers_) {
      std::memcpy(out, channel[half].data() + at, step);
      out += step;
    }
  }
  std::fwrite(interleaved_.data(), 1, interleaved_.size(), capture_);
}

void TestDac::runClock() {
  const auto period = duration_cast<steady_clock::duration>(duration<double>(halfSamples() / rate_));
  auto next = steady_clock::now();
  int half = 0;
  while (running_.load()) {
    if (controlFile("vanish")) {
      // A DAC unplugged: the host is asked to start over, and the clock stops.
      if (callbacks_.asioMessage != nullptr) {
        callbacks_.asioMessage(asio::kAsioResetRequest, 0, nullptr, nullptr);
      }
      break;
    }
    // The clock keeps its time through a stall, so the halves missed come
    // back to back afterwards, as from a DAC that went on playing.
    if (const int stall = takeStallMs(); stall > 0) std::this_thread::sleep_for(milliseconds(stall));
    callbacks_.bufferSwitch(half, asio::kAsioTrue);
    // A real DAC begins playing a half once its host has filled it.
    starts_.note(steadyNs(), capturedBefore_ + samplesPlayed_.load(std::memory_order_relaxed));
    capture(half);
    samplesPlayed_ += static_cast<uint64_t>(halfSamples());
    half ^= 1;
    next += period;
    std::this_thread::sleep_until(next);
  }
}

asio::AsioError TAVRO_THISCALL TestDac::future(int32_t selector, void* argument) {
  if (selector != asio::kAsioCanDoIoFormat && selector != asio::kAsioSetIoFormat &&
      selector != asio::kAsioGetIoFormat) {
    return asio::kAseNotPresent;
  }
  auto* format = static_cast<asio::AsioIoFormat*>(argument);
  if (format == nullptr) return asio::kAseInvalidParameter;
  if (selector == asio::kAsioGetIoFormat) {
    format->formatType = dsd_ ? asio::kAsioDsdFormat : asio::kAsioPcmFormat;
    return asio::kAseSuccess;
  }
  const bool wantsDsd = format->formatType == asio::kAsioDsdFormat;
  if (format->formatType != asio::kAsioPcmFormat && !wantsDsd) return asio::kAseNotPresent;
  if (wantsDsd && config_.dsdRates.empty()) return asio::kAseNotPresent;
  if (selector == asio::kAsioCanDoIoFormat) return asio::kAseSuccess;
  if (hasBuffers_) return fail(asio::kAseInvalidMode, "the format cannot change with buffers made");
  if (dsd_ != wantsDsd) {
    dsd_ = wantsDsd;
    const auto& rates = takenRates();
    rate_ = rates.empty() ? 44100 : rates.front();
  }
  return asio::kAseSuccess;
}

}  // namespace tavro::testing
