#pragma once
// Our declarations of the ASIO driver interface, written from the published
// interface description. `long` in that interface is 32 bits on Windows, so
// every field here is fixed-width and every record lays out in the native
// 64-bit Linux build exactly as in the 64-bit Windows build.
#include <cstddef>
#include <cstdint>

#include "asio/abi.h"
#include "com/com_types.h"

namespace tavro::asio {

using AsioBool = int32_t;
using AsioError = int32_t;
using AsioSampleRate = double;
using AsioSampleType = int32_t;
using AsioIoFormatType = int32_t;

inline constexpr AsioBool kAsioFalse = 0;
inline constexpr AsioBool kAsioTrue = 1;

inline constexpr AsioError kAseOk = 0;
inline constexpr AsioError kAseSuccess = 0x3f4847a0;
inline constexpr AsioError kAseNotPresent = -1000;
inline constexpr AsioError kAseHwMalfunction = -999;
inline constexpr AsioError kAseInvalidParameter = -998;
inline constexpr AsioError kAseInvalidMode = -997;
inline constexpr AsioError kAseSpNotAdvancing = -996;
inline constexpr AsioError kAseNoClock = -995;
inline constexpr AsioError kAseNoMemory = -994;

enum SampleType : AsioSampleType {
  kInt16Msb = 0,
  kInt24Msb = 1,
  kInt32Msb = 2,
  kFloat32Msb = 3,
  kFloat64Msb = 4,
  kInt32Msb16 = 8,
  kInt32Msb18 = 9,
  kInt32Msb20 = 10,
  kInt32Msb24 = 11,
  kInt16Lsb = 16,
  kInt24Lsb = 17,
  kInt32Lsb = 18,
  kFloat32Lsb = 19,
  kFloat64Lsb = 20,
  kInt32Lsb16 = 24,
  kInt32Lsb18 = 25,
  kInt32Lsb20 = 26,
  kInt32Lsb24 = 27,
  kDsdInt8Lsb1 = 32,
  kDsdInt8Msb1 = 33,
  kDsdInt8Ner8 = 40,
};

inline constexpr AsioIoFormatType kAsioFormatInvalid = -1;
inline constexpr AsioIoFormatType kAsioPcmFormat = 0;
inline constexpr AsioIoFormatType kAsioDsdFormat = 1;

// Selectors of IASIO::future.
enum FutureSelector : int32_t {
  kAsioEnableTimeCodeRead = 1,
  kAsioDisableTimeCodeRead,
  kAsioSetInputMonitor,
  kAsioTransport,
  kAsioSetInputGain,
  kAsioGetInputMeter,
  kAsioSetOutputGain,
  kAsioGetOutputMeter,
  kAsioCanInputMonitor,
  kAsioCanTimeInfo,
  kAsioCanTimeCode,
  kAsioCanTransport,
  kAsioCanInputGain,
  kAsioCanInputMeter,
  kAsioCanOutputGain,
  kAsioCanOutputMeter,
  kAsioOptionalOne,
  kAsioSetIoFormat = 0x23111961,
  kAsioGetIoFormat = 0x23111983,
  kAsioCanDoIoFormat = 0x23112004,
  kAsioCanReportOverload = 0x24042012,
  kAsioGetInternalBufferSamples = 0x25042012,
  kAsioSupportsInputResampling = 0x26092017,
};

// Selectors of the host's asioMessage callback, which a driver calls.
enum MessageSelector : int32_t {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion,
  kAsioResetRequest,
  kAsioBufferSizeChange,
  kAsioResyncRequest,
  kAsioLatenciesChanged,
  kAsioSupportsTimeInfo,
  kAsioSupportsTimeCode,
};

// 64-bit values travel as two 32-bit halves, high word first.
struct AsioSamples {
  uint32_t hi;
  uint32_t lo;
};

struct AsioTimeStamp {
  uint32_t hi;
  uint32_t lo;
};

struct AsioClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  AsioBool isCurrentSource;
  char name[32];
};

struct AsioChannelInfo {
  int32_t channel;
  AsioBool isInput;
  AsioBool isActive;
  int32_t channelGroup;
  AsioSampleType type;
  char name[32];
};

struct AsioBufferInfo {
  AsioBool isInput;
  int32_t channelNum;
  void* buffers[2];
};

struct AsioIoFormat {
  AsioIoFormatType formatType;
  char future[512 - sizeof(AsioIoFormatType)];
};

struct AsioTime;  // only passed through, never built by the driver

struct AsioCallbacks {
  void(TAVRO_CDECL* bufferSwitch)(int32_t doubleBufferIndex, AsioBool directProcess);
  void(TAVRO_CDECL* sampleRateDidChange)(AsioSampleRate rate);
  int32_t(TAVRO_CDECL* asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  AsioTime*(TAVRO_CDECL* bufferSwitchTimeInfo)(AsioTime* params, int32_t doubleBufferIndex,
                                               AsioBool directProcess);
};

// The driver interface. Slots 0-2 are COM's (stdcall); the 21 ASIO operations
// that follow are plain member functions, thiscall on 32-bit Windows.
struct IAsio : com::IUnknown {
  virtual AsioBool TAVRO_THISCALL init(void* systemHandle) = 0;
  virtual void TAVRO_THISCALL getDriverName(char* name) = 0;
  virtual int32_t TAVRO_THISCALL getDriverVersion() = 0;
  virtual void TAVRO_THISCALL getErrorMessage(char* text) = 0;
  virtual AsioError TAVRO_THISCALL start() = 0;
  virtual AsioError TAVRO_THISCALL stop() = 0;
  virtual AsioError TAVRO_THISCALL getChannels(int32_t* inputs, int32_t* outputs) = 0;
  virtual AsioError TAVRO_THISCALL getLatencies(int32_t* input, int32_t* output) = 0;
  virtual AsioError TAVRO_THISCALL getBufferSize(int32_t* minSize, int32_t* maxSize,
                                                 int32_t* preferredSize, int32_t* granularity) = 0;
  virtual AsioError TAVRO_THISCALL canSampleRate(AsioSampleRate rate) = 0;
  virtual AsioError TAVRO_THISCALL getSampleRate(AsioSampleRate* rate) = 0;
  virtual AsioError TAVRO_THISCALL setSampleRate(AsioSampleRate rate) = 0;
  virtual AsioError TAVRO_THISCALL getClockSources(AsioClockSource* clocks, int32_t* count) = 0;
  virtual AsioError TAVRO_THISCALL setClockSource(int32_t index) = 0;
  virtual AsioError TAVRO_THISCALL getSamplePosition(AsioSamples* position,
                                                     AsioTimeStamp* timeStamp) = 0;
  virtual AsioError TAVRO_THISCALL getChannelInfo(AsioChannelInfo* info) = 0;
  virtual AsioError TAVRO_THISCALL createBuffers(AsioBufferInfo* infos, int32_t count,
                                                 int32_t bufferSize, AsioCallbacks* callbacks) = 0;
  virtual AsioError TAVRO_THISCALL disposeBuffers() = 0;
  virtual AsioError TAVRO_THISCALL controlPanel() = 0;
  virtual AsioError TAVRO_THISCALL future(int32_t selector, void* argument) = 0;
  virtual AsioError TAVRO_THISCALL outputReady() = 0;

 protected:
  ~IAsio() = default;
};

inline constexpr int kIAsioSlotCount = 24;

// Pin the layouts hosts rely on; a failure here is a wrong declaration.
static_assert(sizeof(AsioSamples) == 8 && offsetof(AsioSamples, lo) == 4);
static_assert(sizeof(AsioTimeStamp) == 8 && offsetof(AsioTimeStamp, lo) == 4);
static_assert(sizeof(AsioClockSource) == 48 && offsetof(AsioClockSource, name) == 16);
static_assert(sizeof(AsioChannelInfo) == 52 && offsetof(AsioChannelInfo, type) == 16 &&
              offsetof(AsioChannelInfo, name) == 20);
static_assert(sizeof(AsioIoFormat) == 512 && offsetof(AsioIoFormat, future) == 4);
static_assert(offsetof(AsioBufferInfo, channelNum) == 4 && offsetof(AsioBufferInfo, buffers) == 8);
static_assert(sizeof(AsioBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(sizeof(AsioCallbacks) == 4 * sizeof(void*));
static_assert(sizeof(AsioSampleRate) == 8);

}  // namespace tavro::asio
