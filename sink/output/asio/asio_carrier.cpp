#include "sink/output/asio/asio_carrier.h"

#include <algorithm>

#include "asio/asio.h"

namespace tavro::sink {

std::optional<DeviceSample> asioDeviceSample(int32_t asioType) {
  switch (asioType) {
    case asio::kInt16Lsb:
      return DeviceSample::kS16Le;
    case asio::kInt24Lsb:
      return DeviceSample::kS24_3Le;
    case asio::kInt32Lsb:
      return DeviceSample::kS32Le;
    case asio::kDsdInt8Msb1:
      return DeviceSample::kDsdU8;
    default:
      return std::nullopt;
  }
}

const char* asioTypeName(int32_t asioType) {
  switch (asioType) {
    case asio::kInt16Lsb:
      return "Int16LSB";
    case asio::kInt24Lsb:
      return "Int24LSB";
    case asio::kInt32Lsb:
      return "Int32LSB";
    case asio::kInt32Lsb16:
      return "Int32LSB16";
    case asio::kInt32Lsb24:
      return "Int32LSB24";
    case asio::kFloat32Lsb:
      return "Float32LSB";
    case asio::kFloat64Lsb:
      return "Float64LSB";
    case asio::kInt16Msb:
      return "Int16MSB";
    case asio::kInt24Msb:
      return "Int24MSB";
    case asio::kInt32Msb:
      return "Int32MSB";
    case asio::kDsdInt8Lsb1:
      return "DSDInt8LSB1";
    case asio::kDsdInt8Msb1:
      return "DSDInt8MSB1";
    case asio::kDsdInt8Ner8:
      return "DSDInt8NER8";
    default:
      return "an unknown sample type";
  }
}

bool asioCarriesPcm(int32_t asioType, uint32_t bits) {
  const std::optional<DeviceSample> sample = asioDeviceSample(asioType);
  if (!sample || isNativeDsd(*sample)) return false;
  const auto candidates = pcmCandidates(bits);
  return std::find(candidates.begin(), candidates.end(), *sample) != candidates.end();
}

bool asioCarriesDsd(int32_t asioType) { return asioType == asio::kDsdInt8Msb1; }

double asioRate(uint32_t streamRate, bool dsd) {
  return dsd ? static_cast<double>(uint64_t{streamRate} * 16) : static_cast<double>(streamRate);
}

uint32_t asioHalfFrames(int32_t bufferSize, bool dsd) {
  if (bufferSize <= 0) return 0;
  return dsd ? static_cast<uint32_t>(bufferSize) / 8 : static_cast<uint32_t>(bufferSize);
}

}  // namespace tavro::sink
