#include "sink/network/stream_session.h"

#include <cstdio>
#include <thread>

#include "sink/network/device_player.h"
#include "sink/network/stream_receiver.h"
#include "sink/network/tick_pacer.h"
#include "sink/os/thread_priority.h"
#include "sink/report/packet_consumer.h"

namespace tavro::sink {
namespace {

// A driver's stop cuts off the ticks of its last moments (it pauses 100 ms
// after its stop datagram, and a busy host answers late): those are not
// counted as missing packets.
constexpr int64_t kStopGraceNs = 1'000'000'000;

std::string describeFormat(const SessionSetup& setup) {
  const StreamFormat& f = setup.consumer.format;
  char text[200];
  std::snprintf(text, sizeof text,
                "stream %d: %u-bit at %u Hz, %u frames per packet (%u bytes), a tick every "
                "%.3f ms, %s",
                setup.consumer.stream, f.bits, f.rate, f.packetFrames, f.packetBytes,
                static_cast<double>(f.periodNs()) / 1e6,
                setup.transport == 2 ? "in datagrams" : "on the control connection");
  return text;
}

void addChecks(const SessionSetup& setup, const PacketConsumer& consumer, StreamReport& report) {
  if (const PacketInspector* inspector = consumer.inspector()) {
    report.wrongMarkers = inspector->wrongMarkers();
    report.mismatched = inspector->mismatched();
    report.firstMismatch = inspector->firstMismatch();
  }
  report.verified = setup.consumer.verify;
  report.file = consumer.file();
}

// The sink's own end of a stream is told apart by why it ended it.
StreamEnd reportedEnd(const SessionSetup& setup, StreamEnd end) {
  return end == StreamEnd::kStopped && setup.stopCause != nullptr ? setup.stopCause->load() : end;
}

void printEnd(const SessionSetup& setup, const PacketConsumer& consumer,
              const StreamReport& report) {
  if (report.foreign > 0) {
    setup.print("ignored " + std::to_string(report.foreign) + " datagrams from other senders");
  }
  if (!consumer.fileError().empty()) setup.print(consumer.fileError());
  if (report.firstMismatch) setup.print(describe(*report.firstMismatch, consumer.layout()));
  setup.print(summaryLine(report));
}

}  // namespace

StreamReport runStream(const SessionSetup& setup) {
  const StreamFormat& format = setup.consumer.format;
  setup.print(describeFormat(setup));
  PacketQueue queue(format.packetBytes);
  PacketConsumer consumer(setup.consumer);
  std::thread checker([&] { consumer.run(queue); });

  TickPacer pacer(format, setup.tickLimit, setup.ticks);
  StreamReceiver receiver(setup, pacer, queue);
  // Just under the ticks: a receiver that waits behind other work would
  // add its wait to every latency it measures.
  os::raiseThreadPriority(1);
  const StreamEnd end = receiver.run();
  os::restoreThreadPriority();
  pacer.stop();
  // The driver learns that the stream is over from its closed connection;
  // tell it before the file is finished.
  if (end != StreamEnd::kDriver) os::shutdownBoth(setup.control);
  queue.close();
  checker.join();

  StreamReport report;
  report.stream = setup.consumer.stream;
  report.layout = layoutName(consumer.layout());
  report.transport = receiver.transport();
  report.rate = format.rate;
  report.packetFrames = format.packetFrames;
  report.packetBytes = format.packetBytes;
  report.ticks = pacer.sent();
  report.packets = receiver.packets();
  report.bytes = receiver.bytes();
  report.malformed = receiver.malformed();
  report.unasked = receiver.unasked();
  report.foreign = receiver.foreign();
  uint64_t expected = 0;
  if (receiver.pacing()) {
    expected = 1 + (end == StreamEnd::kTickLimit
                        ? pacer.sent()
                        : pacer.sentBy(receiver.endNs() - kStopGraceNs - 2 * format.periodNs()));
  }
  const uint64_t arrived = report.packets + report.malformed;
  report.missing = expected > arrived ? expected - arrived : 0;
  addChecks(setup, consumer, report);
  report.takeLatency(receiver.latency());
  report.late = receiver.late();
  report.tickLateMaxUs = static_cast<uint64_t>(pacer.lateMaxNs() / 1000);
  report.end = reportedEnd(setup, end);

  if (setup.transport == 2 && !receiver.pacing()) setup.print("no priming datagram arrived");
  if (pacer.failures() > 0) {
    setup.print(std::to_string(pacer.failures()) + " ticks could not be sent");
  }
  printEnd(setup, consumer, report);
  return report;
}

StreamReport runDeviceStream(const SessionSetup& setup, std::unique_ptr<DeviceOutput> device,
                             DeviceRequest request) {
  const StreamFormat& format = setup.consumer.format;
  setup.print(describeFormat(setup));
  PacketQueue queue(format.packetBytes);
  PacketConsumer consumer(setup.consumer);
  std::thread checker([&] { consumer.run(queue); });

  DevicePlayer player(setup, std::move(device), std::move(request), queue);
  // The card's clock is read and answered on this thread alone.
  setup.print("device loop at " + os::raiseThreadPriority());
  const StreamEnd end = player.run();
  os::restoreThreadPriority();
  if (end != StreamEnd::kDriver) os::shutdownBoth(setup.control);
  player.finish(end);
  queue.close();
  checker.join();

  StreamReport report;
  report.stream = setup.consumer.stream;
  report.layout = layoutName(consumer.layout());
  report.rate = format.rate;
  report.packetFrames = format.packetFrames;
  report.packetBytes = format.packetBytes;
  player.fill(report);
  addChecks(setup, consumer, report);
  report.end = reportedEnd(setup, end);
  printEnd(setup, consumer, report);
  return report;
}

}  // namespace tavro::sink
