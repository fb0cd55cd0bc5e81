// tavro-bare: the bare baseline beside the driver. It announces the same
// stream to tavro-sink as the driver would, then answers every 2-byte tick
// with a packet computed once, over the same kind of socket, with nothing
// in between: no host, no buffer switch, no packing. What the sink measures
// for it is what the socket and the scheduler cost on their own.
//
//   tavro-bare --address A --wire tcp|udp|rio --announce "+ SampleRate ..."
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kPort = 48168;
constexpr size_t kFrameBytes = 1024;
constexpr size_t kPlainPrimingBytes = 32;

int usage() {
  std::fprintf(stderr,
               "usage: tavro-bare --address A --wire tcp|udp|rio --announce \"+ SampleRate R "
               "Bits B PacketSize F DatagramSize D\"\n");
  return 2;
}

// The streaming thread's nearest equivalent of the driver's: real time when
// allowed, else the best nice level, else as it is.
void raisePriority() {
  sched_param param{};
  param.sched_priority = ::sched_get_priority_max(SCHED_FIFO) - 1;
  if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0) return;
  for (int nice = -20; nice < 0; ++nice) {
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice) == 0) return;
  }
}

bool sendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool exchange(int control, const std::string& text) {
  uint8_t frame[kFrameBytes] = {};
  for (size_t i = 0; i < text.size() && i < kFrameBytes / 2 - 1; ++i) {
    frame[2 * i] = static_cast<uint8_t>(text[i]);
  }
  if (!sendAll(control, frame, sizeof frame)) return false;
  size_t got = 0;
  while (got < sizeof frame) {
    const ssize_t count = ::recv(control, frame + got, sizeof frame - got, 0);
    if (count <= 0) return false;
    got += static_cast<size_t>(count);
  }
  return frame[0] == '+' && frame[2] == 'O' && frame[4] == 'K';
}

}  // namespace

int main(int argc, char** argv) {
  std::string address, wire, announce;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--address") == 0) {
      address = argv[i + 1];
    } else if (std::strcmp(argv[i], "--wire") == 0) {
      wire = argv[i + 1];
    } else if (std::strcmp(argv[i], "--announce") == 0) {
      announce = argv[i + 1];
    } else {
      return usage();
    }
  }
  long long rate = 0, bits = 0, frames = 0, datagram = 0;
  if (address.empty() || (wire != "tcp" && wire != "udp" && wire != "rio") ||
      std::sscanf(announce.c_str(), "+ SampleRate %lld Bits %lld PacketSize %lld DatagramSize %lld",
                  &rate, &bits, &frames, &datagram) != 4 ||
      frames <= 0 || bits <= 0) {
    return usage();
  }
  const size_t packetBytes = static_cast<size_t>(frames * bits / 8 * 2);
  const size_t datagramBytes =
      wire == "tcp" || datagram <= 0 ? packetBytes : static_cast<size_t>(datagram);
  std::vector<uint8_t> packet(packetBytes);
  for (size_t i = 0; i < packetBytes; ++i) packet[i] = static_cast<uint8_t>(i * 7);

  sockaddr_in sink{};
  sink.sin_family = AF_INET;
  sink.sin_port = htons(kPort);
  if (::inet_pton(AF_INET, address.c_str(), &sink.sin_addr) != 1) return usage();
  const int control = ::socket(AF_INET, SOCK_STREAM, 0);
  if (control < 0 || ::connect(control, reinterpret_cast<sockaddr*>(&sink), sizeof sink) != 0) {
    std::perror("tavro-bare: connect");
    return 1;
  }
  const int on = 1;
  ::setsockopt(control, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (!exchange(control, announce)) {
    std::fprintf(stderr, "tavro-bare: the sink refused the announcement\n");
    return 1;
  }
  raisePriority();

  uint64_t answered = 0;
  uint8_t tick[64];
  if (wire == "tcp") {
    if (!sendAll(control, packet.data(), packet.size())) return 1;
    // As the driver does: every two bytes of the byte stream are a tick.
    size_t pending = 0;
    for (bool open = true; open;) {
      const ssize_t count = ::recv(control, tick, sizeof tick, 0);
      if (count <= 0) break;
      for (pending += static_cast<size_t>(count); pending >= 2 && open; pending -= 2) {
        open = sendAll(control, packet.data(), packet.size());
        ++answered;
      }
    }
  } else {
    const int data = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 4 << 20;
    ::setsockopt(data, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    // The sink ends a stream by closing the control connection, which this
    // loop does not watch: a pause in the ticks ends it instead.
    const timeval quiet{0, 500000};
    ::setsockopt(data, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
    if (::connect(data, reinterpret_cast<sockaddr*>(&sink), sizeof sink) != 0) return 1;
    // The sink tells the two UDP transports apart by the priming datagram.
    const size_t priming = wire == "rio" ? datagramBytes : kPlainPrimingBytes;
    if (::send(data, packet.data(), priming, 0) < 0) return 1;
    auto sendPacket = [&] {
      for (size_t at = 0; at < packetBytes; at += datagramBytes) {
        if (::send(data, packet.data() + at, datagramBytes, 0) < 0) return false;
      }
      return true;
    };
    if (!sendPacket()) return 1;
    for (;;) {
      const ssize_t count = ::recv(data, tick, sizeof tick, 0);
      if (count <= 0) break;
      if (!sendPacket()) break;
      ++answered;
    }
    ::close(data);
  }
  ::close(control);
  std::printf("bare: answered=%llu\n", static_cast<unsigned long long>(answered));
  return 0;
}
