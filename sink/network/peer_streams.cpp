// The SinkPeer's one stream: what is decided at its announcement, and its
// thread from there to the summary, which a newer player's announcement can
// cut short.
#include <algorithm>
#include <cmath>

#include "sink/network/sink_peer.h"
#include "sink/network/stream_session.h"
#include "sink/network/text16.h"
#include "sink/os/poll.h"
#include "sink/output/device_list.h"

namespace tavro::sink {

// "ERROR 3": no format holds the stream's samples, which is what an
// announcement the sink cannot read asks for.
constexpr int kNotUnderstoodRefusal = 3;

Answer SinkPeer::judgeAnnouncement(const std::u16string& announcement) {
  Answer usual{"+OK", true};
  std::string why;
  if (!parseAnnouncement(toUtf8(announcement), options_.transport == 2, &why)) {
    // Accepting it would leave the driver streaming to a sink that plays
    // nothing of it.
    print("refusing the stream with \"ERROR " + std::to_string(kNotUnderstoodRefusal) +
          "\": announcement not understood (" + why + ")");
    usual = {"ERROR " + std::to_string(kNotUnderstoodRefusal), false};
  } else if (!options_.device.empty()) {
    // With a sound card, the card decides: a stream it cannot play is
    // refused before the driver starts it.
    if (const int refusal = openDevice(announcement); refusal != 0) {
      usual = {"ERROR " + std::to_string(refusal), false};
    }
  }
  if (!hooks_.judgeAnnouncement) return usual;
  return hooks_.judgeAnnouncement(announcement, std::move(usual));
}

int SinkPeer::openDevice(const std::u16string& announcement) {
  device_.reset();
  DeviceRequest& request = deviceRequest_;
  const std::optional<StreamFormat> format =
      parseAnnouncement(toUtf8(announcement), options_.transport == 2, nullptr);
  if (!format) return 0;
  request.name = options_.device;
  request.bits = format->bits;
  request.rate = format->rate;
  request.packetFrames = format->packetFrames;
  request.dopStream = dopPossible(*format) && options_.dop != DopMode::kOff;
  request.dsd = options_.dsd;
  request.bufferPackets = options_.bufferPackets;
  DeviceRefusal refusal;
  device_ = openOutput(request, refusal);
  if (device_) return 0;
  print("refusing the stream with \"ERROR " + std::to_string(refusal.code) +
        "\": " + refusal.reason);
  const std::string offer = describeOffer(options_.device);
  size_t from = 0;
  while (from < offer.size()) {
    const size_t end = std::min(offer.find('\n', from), offer.size());
    if (end > from) print("  " + offer.substr(from, end - from));
    from = end + 1;
  }
  return refusal.code;
}

void SinkPeer::startStream(os::Socket connection, const std::u16string& announcement,
                           const std::string& from) {
  if (int code = 0; !streamWake_.open(code)) {
    print("cannot take the stream: " + os::errorText(code));
    device_.reset();
    os::closeSocket(connection);
    connectionEnded();
    return;
  }
  StreamStart start;
  start.connection = connection;
  start.announcement = announcement;
  start.device = std::move(device_);
  start.request = deviceRequest_;
  start.number = ++streams_;
  start.wake = streamWake_.watched();
  start.options = options_;
  stopCause_.store(StreamEnd::kStopped);
  streamFrom_ = from;
  streamThread_ =
      std::thread([this, start = std::move(start)]() mutable { takeStream(std::move(start)); });
}

void SinkPeer::endStream(StreamEnd cause) {
  if (!streamThread_.joinable()) return;
  stopCause_.store(cause);
  streamWake_.wake();
  streamThread_.join();
  // The thread's word that it ended is about this stream, not the next.
  streamDone_.drain();
  streamWake_.close();
  streamFrom_.clear();
}

void SinkPeer::takeStream(StreamStart start) {
  const SinkOptions& options = start.options;
  std::string why;
  const std::optional<StreamFormat> format =
      parseAnnouncement(toUtf8(start.announcement), options.transport == 2, &why);
  if (!format) {
    print("announcement not understood (" + why + "); draining the connection");
    drainStream(start.connection, start.wake);
  } else {
    SessionSetup setup;
    setup.control = start.connection;
    setup.udp = options.transport == 2 ? datagrams_ : -1;
    setup.wake = start.wake;
    setup.stopCause = &stopCause_;
    setup.transport = options.transport == 2 ? 2 : 1;
    setup.tickLimit = options.tickLimit;
    setup.ticks = hooks_.ticks;
    if (setup.tickLimit == 0 && options.seconds > 0) {
      const double ticks = options.seconds * format->rate / format->packetFrames;
      setup.tickLimit = ticks < 1 ? 1 : static_cast<uint64_t>(std::llround(ticks));
    }
    setup.consumer.format = *format;
    setup.consumer.dop = options.dop;
    setup.consumer.verify = options.verify;
    setup.consumer.shift = options.shift;
    setup.consumer.outputDir = options.outputDir;
    setup.consumer.stream = start.number;
    setup.print = [this](const std::string& line) { print(line); };
    setup.statusSeconds = options.statusSeconds;
    setup.giveUp = options.giveUp;
    // Ticks are two bytes each and must leave at once.
    os::sendAtOnce(start.connection);
    print("format accepted; taking the stream");
    StreamReport report = start.device
                              ? runDeviceStream(setup, std::move(start.device), start.request)
                              : runStream(setup);
    {
      std::lock_guard guard(lock_);
      reports_.push_back(std::move(report));
    }
    changed_.notify_all();
  }
  os::closeSocket(start.connection);
  connectionEnded();
  streamDone_.wake();
}

void SinkPeer::drainStream(os::Socket connection, os::Socket wake) {
  uint64_t total = 0;
  uint8_t buffer[4096];
  for (;;) {
    os::PollEntry watched[2] = {os::readable(connection), os::readable(wake)};
    const int ready = os::poll(watched, 2, -1);
    if (ready == 0) continue;
    if (ready < 0 || watched[1].revents != 0) break;
    const os::Io got = os::receive(connection, buffer, sizeof buffer);
    if (got.again()) continue;
    if (got.ended()) break;
    total += static_cast<uint64_t>(got.bytes);
  }
  print("stream ended after " + std::to_string(total) + " bytes");
}

}  // namespace tavro::sink
