#include "sink/output/wasapi/wasapi_format.h"

namespace tavro::sink {
namespace {

// KSDATAFORMAT_SUBTYPE_PCM, written out: the headers' definition needs a
// library of GUIDs that MinGW-w64 builds do not all have.
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kIidAudioClient = {
    0x1cb9ad4c, 0xdbfa, 0x4c32, {0xb1, 0x78, 0xc2, 0xf5, 0x68, 0xa7, 0x03, 0xb2}};
constexpr DWORD kStereoMask = 0x3;  // SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT

constexpr WasapiLayout k16{16, 16, DeviceSample::kS16Le, "16/16"};
constexpr WasapiLayout k24{24, 24, DeviceSample::kS24_3Le, "24/24"};
constexpr WasapiLayout k24In32{32, 24, DeviceSample::kS32Le, "24-in-32"};
constexpr WasapiLayout k32{32, 32, DeviceSample::kS32Le, "32/32"};

constexpr WasapiLayout kFor16[] = {k16, k24In32, k32};
constexpr WasapiLayout kFor24[] = {k24, k24In32, k32};
constexpr WasapiLayout kForDop[] = {k24, k24In32};
constexpr WasapiLayout kFor32[] = {k32};
constexpr WasapiLayout kAll[] = {k16, k24, k24In32, k32};

constexpr REFERENCE_TIME kHnsPerSecond = 10'000'000;
// Timer-driven, the endpoint's buffer holds this many periods: the sink
// wakes each half period, so a late wake still finds frames queued.
constexpr REFERENCE_TIME kTimerPeriods = 4;

HRESULT initialise(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format, WasapiClocking clocking,
                   REFERENCE_TIME period, HANDLE event, ExclusiveStream& stream) {
  stream.client.reset();
  HRESULT result = device->Activate(kIidAudioClient, CLSCTX_ALL, nullptr, stream.client.putVoid());
  if (FAILED(result)) return result;
  if (period == 0) {
    REFERENCE_TIME preferred = 0;
    REFERENCE_TIME least = 0;
    result = stream.client->GetDevicePeriod(&preferred, &least);
    if (FAILED(result)) return result;
    period = preferred;
  }
  const bool onEvent = clocking == WasapiClocking::kEvent;
  // Event-driven exclusive mode takes one period as its whole buffer.
  const REFERENCE_TIME duration = onEvent ? period : period * kTimerPeriods;
  result = stream.client->Initialize(
      AUDCLNT_SHAREMODE_EXCLUSIVE, onEvent ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0, duration,
      period, reinterpret_cast<const WAVEFORMATEX*>(&format), nullptr);
  if (result == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
    // The documented way: the aligned size in frames, then a client made
    // anew for the period that size is.
    UINT32 aligned = 0;
    if (FAILED(stream.client->GetBufferSize(&aligned)) || aligned == 0) return result;
    const uint32_t frames = onEvent ? aligned : aligned / kTimerPeriods;
    const REFERENCE_TIME fitting =
        (kHnsPerSecond * frames + format.Format.nSamplesPerSec / 2) / format.Format.nSamplesPerSec;
    stream.client.reset();
    result = device->Activate(kIidAudioClient, CLSCTX_ALL, nullptr, stream.client.putVoid());
    if (FAILED(result)) return result;
    const REFERENCE_TIME again = onEvent ? fitting : fitting * kTimerPeriods;
    result = stream.client->Initialize(
        AUDCLNT_SHAREMODE_EXCLUSIVE, onEvent ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0, again,
        fitting, reinterpret_cast<const WAVEFORMATEX*>(&format), nullptr);
    period = fitting;
  }
  if (SUCCEEDED(result) && onEvent) result = stream.client->SetEventHandle(event);
  if (SUCCEEDED(result)) {
    UINT32 frames = 0;
    result = stream.client->GetBufferSize(&frames);
    stream.bufferFrames = frames;
  }
  if (FAILED(result)) {
    stream.client.reset();
    return result;
  }
  stream.clocking = clocking;
  stream.period = period;
  return S_OK;
}

}  // namespace

std::span<const WasapiLayout> wasapiLayoutsFor(uint32_t bits, bool dop) {
  if (dop) return kForDop;
  switch (bits) {
    case 16:
      return kFor16;
    case 24:
      return kFor24;
    case 32:
      return kFor32;
    default:
      return {};
  }
}

std::span<const WasapiLayout> wasapiLayouts() { return kAll; }

WAVEFORMATEXTENSIBLE wasapiFormat(const WasapiLayout& layout, uint32_t rate) {
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = 2;
  format.Format.nSamplesPerSec = rate;
  format.Format.wBitsPerSample = layout.containerBits;
  format.Format.nBlockAlign = static_cast<WORD>(2 * layout.containerBits / 8);
  format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = layout.validBits;
  format.dwChannelMask = kStereoMask;
  format.SubFormat = kSubtypePcm;
  return format;
}

HRESULT openExclusive(IMMDevice* device, const WasapiLayout& layout, uint32_t rate, HANDLE event,
                      ExclusiveStream& stream) {
  // IsFormatSupported is not asked: it can refuse what Initialize then takes
  // (Wine refuses 24-in-32 there), and Initialize has the last word.
  const WAVEFORMATEXTENSIBLE format = wasapiFormat(layout, rate);
  if (event != nullptr) {
    const HRESULT result = initialise(device, format, WasapiClocking::kEvent, 0, event, stream);
    // A refused format is refused whatever the clocking; anything else may
    // be event-driven exclusive mode alone (Wine: AUDCLNT_E_DEVICE_IN_USE).
    if (SUCCEEDED(result) || result == AUDCLNT_E_UNSUPPORTED_FORMAT) return result;
  }
  return initialise(device, format, WasapiClocking::kTimer, 0, nullptr, stream);
}

}  // namespace tavro::sink
