#pragma once
// The exclusive-mode formats the sink offers an endpoint, and the one way it
// opens one. Exclusive mode only: shared mode goes through the system's
// mixer at the mixer's own rate and format, so it is never bit-perfect.
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <span>

#include "sink/output/device_format.h"
#include "sink/output/wasapi/wasapi_com.h"

namespace tavro::sink {

// One PCM layout: the container and the bits in it that carry the sample.
// Valid bits are the container's top bits (24-in-32 is the sample shifted up
// by 8), so each is written as the sink's device sample of that container.
struct WasapiLayout {
  uint16_t containerBits;
  uint16_t validBits;
  DeviceSample sample;
  const char* name;  // "24-in-32"
};

// The layouts that carry a `bits`-bit stream (DoP: 24) without narrowing,
// best first: 16 as 16/16, 24-in-32 or 32/32; 24 as 24/24, 24-in-32 or
// 32/32; 32 as 32/32. DoP stays in 24 valid bits, where a DoP DAC looks for
// its markers.
std::span<const WasapiLayout> wasapiLayoutsFor(uint32_t bits, bool dop);
// Every layout, for asking an endpoint what it takes.
std::span<const WasapiLayout> wasapiLayouts();

WAVEFORMATEXTENSIBLE wasapiFormat(const WasapiLayout& layout, uint32_t rate);

enum class WasapiClocking : uint8_t {
  kEvent,  // the endpoint signals each period it wants filled
  kTimer,  // the sink wakes each half period and fills what is free
};

struct ExclusiveStream {
  ComRef<IAudioClient> client;
  WasapiClocking clocking = WasapiClocking::kEvent;
  uint32_t bufferFrames = 0;
  REFERENCE_TIME period = 0;  // 100 ns units
};

// Activates `device` and initialises it in exclusive mode for `layout` at
// `rate`: event-driven with `event` when given and the system allows it,
// else timer-driven. A buffer size the endpoint cannot align to is asked of
// it and the client made anew with that period, as documented. S_OK, or
// the last failure.
HRESULT openExclusive(IMMDevice* device, const WasapiLayout& layout, uint32_t rate, HANDLE event,
                      ExclusiveStream& stream);

}  // namespace tavro::sink
