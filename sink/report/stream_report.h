#pragma once
// What the sink tells about one stream when it ends: one summary line for
// people and scripts, the same figures as fields for tests.
#include <cstdint>
#include <optional>
#include <string>

#include "sink/os/socket.h"
#include "sink/report/latency_stats.h"
#include "sink/report/packet_inspector.h"

namespace tavro::sink {

enum class StreamEnd {
  kDriver,      // the driver closed the control connection
  kTickLimit,   // --ticks or --seconds: the sink closed it
  kStopped,     // the sink itself was stopped
  kDeviceGone,  // the sound card went away (unplugged): the sink closed it
  kTakenOver,   // a newer player announced its stream: the sink closed it
  kVanished,    // the driver stopped answering at the TCP level (asleep, unplugged)
};

// How a stream whose control connection failed ended: a driver that stopped
// answering, as keepalive and the user timeout tell, or one that closed it.
StreamEnd controlFailure(os::IoError error);

const char* endName(StreamEnd end);

struct StreamReport {
  int stream = 0;         // 1 for the first stream this sink took
  std::string layout;     // pcm16, pcm24, pcm32 or dop
  std::string transport;  // tcp, udp (plain) or udp-rio (Registered I/O)
  uint32_t rate = 0;      // as announced
  uint32_t packetFrames = 0;
  uint32_t packetBytes = 0;
  uint64_t ticks = 0;       // ticks sent
  uint64_t packets = 0;     // whole packets received
  uint64_t bytes = 0;       // data bytes received, whole packets or not
  uint64_t missing = 0;     // packets asked for (the first, one per tick) that never came
  uint64_t malformed = 0;   // packets that came with the wrong size (each in its tick's place)
  uint64_t late = 0;        // packets that came after the tick following theirs was due
  uint64_t unasked = 0;     // packets that came before their tick was sent (UDP: dropped)
  uint64_t duplicates = 0;  // UDP: copies of the packet before, dropped
  uint64_t foreign = 0;     // datagrams from another sender than the priming one, ignored
  uint64_t wrongMarkers = 0;
  uint64_t mismatched = 0;
  bool verified = false;
  std::optional<Mismatch> firstMismatch;
  uint64_t latencyMedianUs = 0;
  uint64_t latencyP99Us = 0;
  uint64_t latencyP999Us = 0;
  uint64_t latencyMaxUs = 0;
  uint64_t tickLateMaxUs = 0;  // how far the pacer's worst tick was behind its schedule
  std::string file;            // empty when none was written
  // Played to a sound card: which, in what format, and how it went.
  std::string device;        // empty without one
  std::string deviceFormat;  // S24_3LE, DSD_U32_BE, ...
  std::string dsd = "-";     // dop (passed through as PCM), native, or - for PCM
  uint64_t underruns = 0;
  uint64_t lost = 0;           // UDP packets that never came, played as silence
  uint64_t overdue = 0;        // of those, packets that came after they were given up
  // Ticks given up after the driver's last packet: the stream was ending,
  // so nothing was lost, though silence played in their slots.
  uint64_t unanswered = 0;
  uint64_t deviceDelayUs = 0;  // the card's queue after each packet, on average
  StreamEnd end = StreamEnd::kDriver;

  // The tick-to-packet figures, from what was measured.
  void takeLatency(const LatencyStats& latency) {
    latencyMedianUs = latency.percentileUs(0.5);
    latencyP99Us = latency.percentileUs(0.99);
    latencyP999Us = latency.percentileUs(0.999);
    latencyMaxUs = latency.maxUs();
  }

  // Verified, and every packet came whole, with every sample and marker right.
  bool bitExact() const {
    return verified && mismatched == 0 && wrongMarkers == 0 && missing == 0 && malformed == 0 &&
           lost == 0 && packets > 0;
  }
};

// "summary: stream=1 layout=pcm24 ... verify=bit-exact ... file=-", one line.
std::string summaryLine(const StreamReport& report);

}  // namespace tavro::sink
