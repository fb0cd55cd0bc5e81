#pragma once
// One kind of device as the output side dispatches to it. Each build lists
// the backends it has (output_backends_<system>.cpp); a device name is
// taken by the backend whose prefix it starts with, else by the one
// without a prefix.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sink/output/device_list.h"
#include "sink/output/device_output.h"

namespace tavro::sink {

struct OutputBackend {
  const char* prefix;  // "ASIO: "; "" for the system's own devices (alsa-lib's names)
  std::unique_ptr<DeviceOutput> (*open)(const DeviceRequest& request, DeviceRefusal& refusal);
  void (*list)(const LinePrinter& print);
  std::vector<std::string> (*names)();
  std::string (*describeOffer)(const std::string& name);
};

std::span<const OutputBackend> outputBackends();

// Device names of a kind some build has, with where it has it: a name of a
// kind this build lacks is refused with that, rather than passed to
// another backend that would only fail to find it.
struct DeviceKind {
  const char* prefix;
  const char* where;
};
inline constexpr DeviceKind kDeviceKinds[] = {
    {"ASIO: ", "the Windows build, through an installed ASIO driver"},
    {"WASAPI: ", "the Windows build, through a WASAPI endpoint in exclusive mode"},
};

}  // namespace tavro::sink
