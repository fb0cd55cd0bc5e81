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
#include <string>

#include <memory>

#include "control/control_connection.h"
#include "platform/fault.h"
#include "platform/memory.h"
#include "platform/version.h"
#include "stream/data_transport.h"

namespace {

using namespace tavro;

constexpr char kAddress[] = "127.77.0.1";

class Stream {
 public:
  Stream(bool registeredIo, uint32_t packetBytes, uint32_t datagramSize)
      : version_(platform::Call::GetVersionExA,
                 {.value = platform::versionFaultValue(6, registeredIo ? 2 : 1)}) {
    platform::netStartup();

    sink_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(48168);
    inet_pton(AF_INET, kAddress, &local.sin_addr);
    bind(sink_, reinterpret_cast<sockaddr*>(&local), sizeof local);

    link_.hostName = kAddress;
    link_.portText = "48168";
    link_.localAddressText = kAddress;
    link_.settings.transportMode = control::kTransportUdp;
    const uint32_t registerBytes = packetBytes + stream::kTickSlotsBytes;
    packet_ = platform::Pages(registerBytes);
    control::Outcome failure;
    transport_ = stream::openDataTransport(
        connection_, link_, {packet_.get(), datagramSize, packetBytes / datagramSize, registerBytes},
        failure);
    ready_ = transport_ != nullptr &&
             (std::string(transport_->name()) == "Registered I/O") == registeredIo;
    if (ready_) transport_->prime();
  }
  ~Stream() {
    transport_.reset();
    packet_ = platform::Pages();
    platform::netCleanup();
    close(sink_);
  }
  bool ready() const { return ready_; }
  bool send() { return transport_->sendPacket(); }

 private:
  platform::ScopedFault version_;
  control::Connection connection_;
  control::StreamerLink link_;
  platform::Pages packet_;
  std::unique_ptr<stream::DataTransport> transport_;
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
