#pragma once
// One stream, from the accepted announcement to its summary: the tick pacer,
// the receiver on the calling thread, and the checking and writing behind a
// queue on a thread of their own.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sink/format/stream_format.h"
#include "sink/network/loss_deadline.h"
#include "sink/network/tick_hooks.h"
#include "sink/os/socket.h"
#include "sink/output/device_output.h"
#include "sink/report/packet_consumer.h"
#include "sink/report/stream_report.h"

namespace tavro::sink {

struct SessionSetup {
  os::Socket control = os::kNoSocket;  // the driver's control connection
  os::Socket udp = os::kNoSocket;      // transport mode 2: the sink's datagram socket
  os::Socket wake = os::kNoSocket;     // readable once the sink ends the stream
  // Why the sink ended it, when `wake` became readable; null: it was stopped.
  const std::atomic<StreamEnd>* stopCause = nullptr;
  uint32_t transport = 1;
  uint64_t tickLimit = 0;  // 0: the driver ends the stream
  TickHooks ticks;
  ConsumerSetup consumer;            // the format, checks and file
  GiveUp giveUp = GiveUp::kLearned;  // with a card over UDP: when a packet is lost
  uint32_t statusSeconds = 0;        // with a sound card: a status line this often; 0 for none
  std::function<void(const std::string&)> print;
};

// Runs the stream until the driver ends it, the tick limit is reached or the
// sink is stopped; in the last two cases the control connection is shut down,
// which tells the driver. Prints and returns the report.
StreamReport runStream(const SessionSetup& setup);

// The same stream played to a sound card, which paces it instead of the
// clock: `device` was opened for it with `request`. When the card goes away
// the control connection is shut down too.
StreamReport runDeviceStream(const SessionSetup& setup, std::unique_ptr<DeviceOutput> device,
                             DeviceRequest request);

}  // namespace tavro::sink
