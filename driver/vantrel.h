#pragma once
// The driver object an ASIO host talks to: IASIO first, then the COM base.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "asio/asio.h"
#include "com/unknown.h"
#include "control/control_connection.h"
#include "control/outcome.h"
#include "driver/stream_readiness.h"
#include "platform/net.h"
#include "platform/sync.h"
#include "stream/session.h"

namespace tavro::driver {

inline constexpr char kDriverName[] = "TAVRODriver";
inline constexpr int32_t kDriverVersion = 96;
inline constexpr size_t kErrorTextSize = 128;
inline constexpr double kDefaultSampleRate = 44100.0;
inline constexpr int32_t kDefaultBufferFrames = 64;
inline constexpr int32_t kFixedLatency = 64;

class Vantrel final : public asio::IAsio, public com::CUnknown {
 public:
  // The class table's create function. Never changes `*result`.
  static com::CUnknown* create(com::IUnknown* outer, com::HResult* result) noexcept;

  // IUnknown, forwarded to the owner.
  com::HResult TAVRO_STDCALL QueryInterface(const com::Guid& iid, void** out) override;
  uint32_t TAVRO_STDCALL AddRef() override;
  uint32_t TAVRO_STDCALL Release() override;

  // CUnknown: hands out IASIO for the driver's class identifier.
  com::HResult TAVRO_STDCALL InnerQueryInterface(const com::Guid& iid, void** out) override;

  // IASIO.
  asio::AsioBool TAVRO_THISCALL init(void* systemHandle) noexcept override;
  void TAVRO_THISCALL getDriverName(char* name) noexcept override;
  int32_t TAVRO_THISCALL getDriverVersion() noexcept override;
  void TAVRO_THISCALL getErrorMessage(char* text) noexcept override;
  asio::AsioError TAVRO_THISCALL start() noexcept override;
  asio::AsioError TAVRO_THISCALL stop() noexcept override;
  asio::AsioError TAVRO_THISCALL getChannels(int32_t* inputs, int32_t* outputs) noexcept override;
  asio::AsioError TAVRO_THISCALL getLatencies(int32_t* input, int32_t* output) noexcept override;
  asio::AsioError TAVRO_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize,
                                               int32_t* preferredSize,
                                               int32_t* granularity) noexcept override;
  asio::AsioError TAVRO_THISCALL canSampleRate(asio::AsioSampleRate rate) noexcept override;
  asio::AsioError TAVRO_THISCALL getSampleRate(asio::AsioSampleRate* rate) noexcept override;
  asio::AsioError TAVRO_THISCALL setSampleRate(asio::AsioSampleRate rate) noexcept override;
  asio::AsioError TAVRO_THISCALL getClockSources(asio::AsioClockSource* clocks,
                                                 int32_t* count) noexcept override;
  asio::AsioError TAVRO_THISCALL setClockSource(int32_t index) noexcept override;
  asio::AsioError TAVRO_THISCALL
  getSamplePosition(asio::AsioSamples* position, asio::AsioTimeStamp* timeStamp) noexcept override;
  asio::AsioError TAVRO_THISCALL getChannelInfo(asio::AsioChannelInfo* info) noexcept override;
  asio::AsioError TAVRO_THISCALL createBuffers(asio::AsioBufferInfo* infos, int32_t count,
                                               int32_t bufferSize,
                                               asio::AsioCallbacks* callbacks) noexcept override;
  asio::AsioError TAVRO_THISCALL disposeBuffers() noexcept override;
  asio::AsioError TAVRO_THISCALL controlPanel() noexcept override;
  asio::AsioError TAVRO_THISCALL future(int32_t selector, void* argument) noexcept override;
  asio::AsioError TAVRO_THISCALL outputReady() noexcept override;

  // Writes the whole text, cut to fit, always NUL-terminated.
  void setErrorText(const char* text) noexcept;
  void notify(control::Notification code) const noexcept;
  // The one place a step's failure reaches the host: its text, then its
  // notification. Returns the step's ASIO result.
  asio::AsioError report(const control::Outcome& outcome) noexcept;

 private:
  explicit Vantrel(com::IUnknown* outer) noexcept;
  ~Vantrel() override;

  // The steps disposeBuffers and the destructor share.
  void releaseStreamResources() noexcept;
  // Frees the blocks createBuffers made; touches no connection and no stream.
  void releaseOutputBuffers() noexcept;
  // Frees the packet buffer and whatever of the data transport holds it.
  void releasePacketBuffer() noexcept;
  // One reading of what start checks of the output buffers.
  OutputBufferState outputBufferState() const noexcept;

  // What init makes: the streamer's address and settings, and how the host
  // is told of failures.
  control::StreamerLink streamer;
  bool initialised = false;
  uint32_t notifyMessage = 0;
  char errorText[kErrorTextSize] = {};

  // Host calls may come from any of the host's threads; start takes one
  // reading of each for the stream.
  std::atomic<double> sampleRate{kDefaultSampleRate};
  std::atomic<int32_t> bufferFrames{kDefaultBufferFrames};
  int32_t inputLatency = kFixedLatency;
  int32_t outputLatency = kFixedLatency;

  // What createBuffers makes. The callbacks are the host's, not owned; start
  // hands them and the buffers to the stream.
  std::atomic<asio::AsioCallbacks*> hostCallbacks{nullptr};
  // A host thread may call setSampleRate while another disposes the buffers:
  // the callbacks are used and forgotten under this guard, so none is called
  // after disposeBuffers returns and the host frees them. Recursive, because
  // a host may dispose from inside its own sampleRateDidChange.
  std::recursive_mutex callbacksGuard;
  void* outputBuffers[2] = {nullptr, nullptr};
  int32_t activeChannels[2] = {0, 0};
  int32_t bufferCount = 0;
  int32_t wordsPerHalf = 0;  // 32-bit words in each half of the current output buffers

  // What start makes for the stream and the streaming thread works with.
  stream::Session session;
};

}  // namespace tavro::driver
