#pragma once
// The driver object an ASIO host talks to: IASIO first, then the COM base.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "asio/asio.h"
#include "com/unknown.h"
#include "control/control_connection.h"
#include "control/outcome.h"
#include "driver/error_text.h"
#include "driver/running_stream.h"
#include "driver/stream_readiness.h"
#include "stream/host_buffers.h"
#include "stream/stream_state.h"

namespace tavro::driver {

inline constexpr char kDriverName[] = "TAVRODriver";
inline constexpr int32_t kDriverVersion = 96;
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

  // The one place a step's failure reaches the host: its text, then its
  // notification. Returns the step's ASIO result.
  asio::AsioError report(const control::Outcome& outcome) noexcept;

 private:
  // The prepared state of the chain, made by createBuffers and destroyed by
  // disposeBuffers: the buffers and the host's callbacks, and while a stream
  // runs the running state start made.
  struct Prepared {
    Prepared(asio::AsioCallbacks* callbacks, int32_t wordsPerHalf) noexcept
        : buffers(callbacks, wordsPerHalf) {}
    stream::HostBuffers buffers;
    std::unique_ptr<RunningStream> running;
  };

  explicit Vantrel(com::IUnknown* outer) noexcept;
  ~Vantrel() override;

  void notify(control::Notification code) const noexcept;
  // The steps disposeBuffers and the destructor share.
  void releaseStreamResources() noexcept;
  // One stream per process: this object's, or another's still running.
  bool streamRunning() const noexcept;
  // Releases this object's stream once it has ended, by itself or through a
  // stop on its own thread; nothing when none has.
  void releaseEndedStream() noexcept;
  // One reading of what start checks of the output buffers.
  OutputBufferState outputBufferState() const noexcept;

  // What init makes: the streamer's address and settings, and how the host
  // is told of failures.
  control::StreamerLink streamer;
  bool initialised = false;
  uint32_t notifyMessage = 0;
  ErrorText errorText;

  // Host calls may come from any of the host's threads; start takes one
  // reading of each for the stream.
  std::atomic<double> sampleRate{kDefaultSampleRate};
  std::atomic<int32_t> bufferFrames{kDefaultBufferFrames};
  int32_t inputLatency = kFixedLatency;
  int32_t outputLatency = kFixedLatency;

  // A host thread may call setSampleRate while another disposes the buffers:
  // the callbacks are used and forgotten under this guard, so none is called
  // after disposeBuffers returns and the host frees them. Recursive, because
  // a host may dispose from inside its own sampleRateDidChange.
  std::recursive_mutex callbacksGuard;
  std::unique_ptr<Prepared> prepared;

  // Outlive every stream of this object: hosts read the position and ask
  // whether a stream runs at any moment, and the drive path stays for the
  // host after the stream. Start writes them before the stream's thread
  // exists; while it runs only that thread moves the position.
  stream::StreamState streamState;
  std::atomic<double> samplePosition{0.0};
  std::string drivePath;
};

}  // namespace tavro::driver
