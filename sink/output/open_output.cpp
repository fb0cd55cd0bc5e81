#include <string_view>

#include "sink/output/output_backend.h"

namespace tavro::sink {
namespace {

const OutputBackend* backendFor(const std::string& name) {
  const OutputBackend* fallback = nullptr;
  for (const OutputBackend& backend : outputBackends()) {
    const std::string_view prefix = backend.prefix;
    if (prefix.empty()) {
      fallback = &backend;
    } else if (name.starts_with(prefix)) {
      return &backend;
    }
  }
  for (const DeviceKind& kind : kDeviceKinds) {
    if (name.starts_with(kind.prefix)) return nullptr;
  }
  return fallback;
}

std::string missingBackend(const std::string& name) {
  for (const DeviceKind& kind : kDeviceKinds) {
    if (name.starts_with(kind.prefix)) {
      return "device " + name + " cannot be played by this tavro-sink: such devices are played by " +
             kind.where;
    }
  }
  std::string taken;
  for (const OutputBackend& backend : outputBackends()) {
    taken += std::string(taken.empty() ? "" : ", ") + "\"" + backend.prefix + "<name>\"";
  }
  return "device " + name + " is of no kind this tavro-sink plays to" +
         (taken.empty() ? std::string(": it was built without device output")
                        : "; it takes " + taken);
}

}  // namespace

const char* dsdOutputName(DsdOutput output) {
  switch (output) {
    case DsdOutput::kDop:
      return "dop";
    case DsdOutput::kNative:
      return "native";
    case DsdOutput::kAuto:
      return "auto";
  }
  return "unknown";
}

std::unique_ptr<DeviceOutput> openOutput(const DeviceRequest& request, DeviceRefusal& refusal) {
  const OutputBackend* backend = backendFor(request.name);
  if (backend == nullptr) {
    refusal = {1, missingBackend(request.name)};
    return nullptr;
  }
  return backend->open(request, refusal);
}

void listDevices(const LinePrinter& print) {
  if (outputBackends().empty()) {
    print("This tavro-sink was built without device output: it checks and records streams.");
    return;
  }
  for (const OutputBackend& backend : outputBackends()) backend.list(print);
}

std::vector<std::string> playbackDeviceNames() {
  std::vector<std::string> names;
  for (const OutputBackend& backend : outputBackends()) {
    std::vector<std::string> more = backend.names();
    names.insert(names.end(), more.begin(), more.end());
  }
  return names;
}

std::string describeOffer(const std::string& name) {
  const OutputBackend* backend = backendFor(name);
  return backend == nullptr ? missingBackend(name) : backend->describeOffer(name);
}

}  // namespace tavro::sink
