#pragma once
// A stand-in for a DAC's own ASIO driver, for tests without one: two outputs
// at the rates, sample type and DSD rates its configuration lists, paced by a
// clock thread of its own that calls the host's bufferSwitch every half and
// then writes what the host put there to the capture file.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio.h"
#include "asio_dac/dac_config.h"
#include "asio_dac/starts_log.h"

namespace tavro::testing {

// {6C1E9A52-3D07-4B8F-A1E4-58D2C09B7F31}
inline constexpr com::Guid kTestDacClassId{
    0x6C1E9A52, 0x3D07, 0x4B8F, {0xA1, 0xE4, 0x58, 0xD2, 0xC0, 0x9B, 0x7F, 0x31}};
inline constexpr char kTestDacName[] = "TAVRO Test DAC";

// Live objects of the module, for DllCanUnloadNow.
std::atomic<int32_t>& liveTestDacObjects();

class TestDac final : public asio::IAsio {
 public:
  TestDac() { liveTestDacObjects().fetch_add(1); }
  ~TestDac();

  com::HResult TAVRO_STDCALL QueryInterface(const com::Guid& iid, void** out) override;
  uint32_t TAVRO_STDCALL AddRef() override;
  uint32_t TAVRO_STDCALL Release() override;

  asio::AsioBool TAVRO_THISCALL init(void* systemHandle) override;
  void TAVRO_THISCALL getDriverName(char* name) override;
  int32_t TAVRO_THISCALL getDriverVersion() override { return 1; }
  void TAVRO_THISCALL getErrorMessage(char* text) override;
  asio::AsioError TAVRO_THISCALL start() override;
  asio::AsioError TAVRO_THISCALL stop() override;
  asio::AsioError TAVRO_THISCALL getChannels(int32_t* inputs, int32_t* outputs) override;
  asio::AsioError TAVRO_THISCALL getLatencies(int32_t* input, int32_t* output) override;
  asio::AsioError TAVRO_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize,
                                               int32_t* preferredSize,
                                               int32_t* granularity) override;
  asio::AsioError TAVRO_THISCALL canSampleRate(asio::AsioSampleRate rate) override;
  asio::AsioError TAVRO_THISCALL getSampleRate(asio::AsioSampleRate* rate) override;
  asio::AsioError TAVRO_THISCALL setSampleRate(asio::AsioSampleRate rate) override;
  asio::AsioError TAVRO_THISCALL getClockSources(asio::AsioClockSource* clocks,
                                                 int32_t* count) override;
  asio::AsioError TAVRO_THISCALL setClockSource(int32_t index) override;
  asio::AsioError TAVRO_THISCALL getSamplePosition(asio::AsioSamples* position,
                                                   asio::AsioTimeStamp* stamp) override;
  asio::AsioError TAVRO_THISCALL getChannelInfo(asio::AsioChannelInfo* info) override;
  asio::AsioError TAVRO_THISCALL createBuffers(asio::AsioBufferInfo* infos, int32_t count,
                                               int32_t bufferSize,
                                               asio::AsioCallbacks* callbacks) override;
  asio::AsioError TAVRO_THISCALL disposeBuffers() override;
  asio::AsioError TAVRO_THISCALL controlPanel() override { return asio::kAseNotPresent; }
  asio::AsioError TAVRO_THISCALL future(int32_t selector, void* argument) override;
  asio::AsioError TAVRO_THISCALL outputReady() override { return asio::kAseNotPresent; }

 private:
  bool controlFile(const char* name) const;
  int takeStallMs() const;
  // Samples (PCM frames, or one-bit DSD samples) per half.
  int32_t halfSamples() const { return dsd_ ? config_.bufferFrames * 16 : config_.bufferFrames; }
  size_t halfBytes() const;
  const std::vector<double>& takenRates() const { return dsd_ ? config_.dsdRates : config_.rates; }
  void runClock();
  void capture(int half);
  asio::AsioError fail(asio::AsioError code, const std::string& text);

  std::atomic<uint32_t> references_{1};
  bool initialised_ = false;
  TestDacConfig config_;
  std::string error_;
  double rate_ = 0;
  bool dsd_ = false;
  // [channel][half], made by createBuffers.
  std::vector<uint8_t> buffers_[2][2];
  bool hasBuffers_ = false;
  asio::AsioCallbacks callbacks_{};
  std::FILE* capture_ = nullptr;
  // The capture's samples before this start: the starts log counts from the file's beginning.
  uint64_t capturedBefore_ = 0;
  StartsLog starts_;
  std::vector<uint8_t> interleaved_;
  std::thread clock_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> samplesPlayed_{0};
};

}  // namespace tavro::testing
