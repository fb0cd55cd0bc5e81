// The extensions a host reaches through future: the I/O format, always DSD,
// and the removable-drive path for a cooperating program.
#include <cstring>

#include "driver/vantrel.h"

namespace tavro::driver {
namespace {

// The control port's number doubles as the private selector.
constexpr int32_t kDrivePathSelector = 48168;
constexpr size_t kDrivePathOffset = 80;

}  // namespace

asio::AsioError Vantrel::future(int32_t selector, void* argument) noexcept {
  switch (selector) {
    case asio::kAsioSetIoFormat:
    case asio::kAsioGetIoFormat:
    case asio::kAsioCanDoIoFormat: {
      // Every format request is granted and answered with DSD: whether a
      // stream is DSD follows from the sample rate alone.
      if (argument == nullptr) return asio::kAseInvalidParameter;
      auto* format = static_cast<asio::AsioIoFormat*>(argument);
      std::memset(format, 0, sizeof *format);
      format->formatType = asio::kAsioDsdFormat;
      return asio::kAseSuccess;
    }
    case kDrivePathSelector:
      if (argument == nullptr) return asio::kAseInvalidParameter;
      std::memcpy(static_cast<char*>(argument) + kDrivePathOffset, drivePath.c_str(),
                  drivePath.size() + 1);
      return asio::kAseSuccess;
    default:
      return asio::kAseNotPresent;
  }
}

}  // namespace tavro::driver
