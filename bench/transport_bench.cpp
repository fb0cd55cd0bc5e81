// One packet out per tick: the send step of each UDP transport over
// loopback, for the largest one-datagram packet and a packet of four
// datagrams. A bound socket that nobody reads stands in for the streamer, so
// only the sending side is measured.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include "com/class_id.h"
#include "com/exports.h"
#include "driver/process.h"
#include "driver/vantrel.h"
#include "platform/fault.h"
#include "platform/memory.h"
#include "platform/version.h"
#include "stream/data_transport.h"
#include "stream/stream_control.h"

namespace {

using namespace tavro;

constexpr char kAddress[] = "127.77.0.1";

class Stream {
 public:
  Stream(bool registeredIo, uint32_t packetBytes, uint32_t datagramSize)
      : version_(platform::Call::GetVersionExA,
                 {.value = platform::versionFaultValue(6, registeredIo ? 2 : 1)}) {
    com::IClassFactory* factory = nullptr;
    DllGetClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory,
                      reinterpret_cast<void**>(&factory));
    void* object = nullptr;
    factory->CreateInstance(nullptr, com::kClsidTavroDriver, &object);
    factory->Release();
    driver_ = static_cast<driver::Vantrel*>(static_cast<asio::IAsio*>(object));

    sink_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(48168);
    inet_pton(AF_INET, kAddress, &local.sin_addr);
    bind(sink_, reinterpret_cast<sockaddr*>(&local), sizeof local);

    driver::Vantrel& d = *driver_;
    d.streamer.hostName = kAddress;
    d.streamer.portText = "48168";
    d.streamer.localAddressText = kAddress;
    d.streamer.settings.transportMode = control::kTransportUdp;
    d.session.config.transportMode = control::kTransportUdp;
    d.session.datagramSize = datagramSize;
    d.session.datagramsPerBuffer = packetBytes / datagramSize;
    d.session.packetBuffer = platform::allocatePages(packetBytes + stream::kTickSlotsBytes);
    ready_ =
        stream::openDataSocket(d.session, d.streamer, packetBytes + stream::kTickSlotsBytes).ok() &&
        driver::process().stream.transport.useRio.load() == registeredIo &&
        stream::buildDatagramSlots(d.session);
    if (ready_) stream::primeDataTransport(d.session);
  }
  ~Stream() {
    stream::releaseDataTransport(driver::process().stream);
    platform::freePages(driver_->session.packetBuffer);
    driver_->session.packetBuffer = nullptr;
    driver_->Release();
    close(sink_);
  }
  bool ready() const { return ready_; }
  bool send() {
    const bool sent = stream::sendPacket(driver_->session);
    ++driver_->session.packetsSent;
    return sent;
  }

 private:
  platform::ScopedFault version_;
  driver::Vantrel* driver_ = nullptr;
  int sink_ = -1;
  bool ready_ = false;
};

void sendPackets(benchmark::State& state, bool registeredIo) {
  const auto packetBytes = static_cast<uint32_t>(state.range(0));
  const uint32_t datagramSize = packetBytes > 49152 ? 49152 : packetBytes;
  Stream stream(registeredIo, packetBytes, datagramSize);
  if (!stream.ready()) {
    state.SkipWithError("the transport could not be opened (io_uring refused?)");
    return;
  }
  for (auto _ : state) {
    if (!stream.send()) {
      state.SkipWithError("send failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * packetBytes);
}

void BM_PlainUdpPacket(benchmark::State& state) { sendPackets(state, false); }
void BM_RegisteredIoPacket(benchmark::State& state) { sendPackets(state, true); }

BENCHMARK(BM_PlainUdpPacket)->Arg(4096)->Arg(49152)->Arg(196608);
BENCHMARK(BM_RegisteredIoPacket)->Arg(4096)->Arg(49152)->Arg(196608);

}  // namespace
