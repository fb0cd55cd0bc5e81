#include "sink/report/stream_report.h"

namespace tavro::sink {

const char* endName(StreamEnd end) {
  switch (end) {
    case StreamEnd::kDriver:
      return "driver";
    case StreamEnd::kTickLimit:
      return "tick-limit";
    case StreamEnd::kStopped:
      return "stopped";
    case StreamEnd::kDeviceGone:
      return "device-gone";
    case StreamEnd::kTakenOver:
      return "taken-over";
    case StreamEnd::kVanished:
      return "vanished";
  }
  return "unknown";
}

StreamEnd controlFailure(os::IoError error) {
  return error == os::IoError::kVanished ? StreamEnd::kVanished : StreamEnd::kDriver;
}

std::string summaryLine(const StreamReport& r) {
  auto field = [](const char* name, uint64_t value) {
    return std::string(" ") + name + "=" + std::to_string(value);
  };
  std::string line = "summary: stream=" + std::to_string(r.stream) + " layout=" + r.layout +
                     " transport=" + r.transport;
  line += field("rate", r.rate) + field("ticks", r.ticks) + field("packets", r.packets) +
          field("bytes", r.bytes) + field("missing", r.missing) + field("malformed", r.malformed) +
          field("late", r.late) + field("unasked", r.unasked) + field("duplicates", r.duplicates) +
          field("wrong-markers", r.wrongMarkers) + field("mismatched", r.mismatched);
  line += std::string(" verify=") + (!r.verified ? "off" : r.bitExact() ? "bit-exact" : "failed");
  line += field("latency-median-us", r.latencyMedianUs) + field("latency-p99-us", r.latencyP99Us) +
          field("latency-p999-us", r.latencyP999Us) + field("latency-max-us", r.latencyMaxUs) +
          field("tick-late-max-us", r.tickLateMaxUs);
  line += " device=" + (r.device.empty() ? std::string("-") : r.device) +
          " format=" + (r.deviceFormat.empty() ? std::string("-") : r.deviceFormat) +
          " dsd=" + r.dsd + field("underruns", r.underruns) + field("lost", r.lost) +
          field("overdue", r.overdue) + field("unanswered", r.unanswered) +
          field("device-delay-us", r.deviceDelayUs);
  line += std::string(" end=") + endName(r.end) + " file=" + (r.file.empty() ? "-" : r.file);
  return line;
}

}  // namespace tavro::sink
