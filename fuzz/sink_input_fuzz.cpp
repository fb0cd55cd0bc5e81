// fuzz-sources: sink/network/control_frame.cpp sink/network/text16.cpp
// fuzz-sources: sink/format/stream_format.cpp sink/network/datagram_intake.cpp
// fuzz-sources: sink/os/posix/socket.cpp
// What tavro-sink takes from a driver it cannot trust: a control frame of any
// bytes, or an announcement of any numbers, and then, for a stream it accepts
// in datagrams, that stream's datagrams from the driver and from strangers
// over real loopback sockets.
//
// The input: one byte of flags (1: datagrams, 2: an announcement of four
// 64-bit numbers rather than a raw frame); the frame (a 16-bit length and
// that many bytes) or the numbers; then datagrams of three bytes each: how
// (its low two bits: the sender; 4: exactly a piece's size; 8: the packet
// under way given up first) and a 16-bit size. A datagram's bytes are its
// number, so a piece can be found where it landed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sink/network/control_frame.h"
#include "sink/network/datagram_intake.h"
#include "sink/format/stream_format.h"
#include "sink/network/text16.h"

namespace {

using namespace tavro::sink;

constexpr uint8_t kDatagrams = 1;
constexpr uint8_t kNumbers = 2;
constexpr uint8_t kWholePiece = 4;
constexpr uint8_t kRestart = 8;

// What the sink may set aside for one packet: it keeps several.
constexpr uint64_t kLargestPacket = 64ull << 20;
constexpr uint32_t kLargestDatagram = 65507;
// Larger packets take the same paths, only slower.
constexpr uint32_t kLargestIntakePacket = 1u << 20;
constexpr int kMostDatagrams = 256;

void require(bool holds) {
  if (!holds) __builtin_trap();
}

// The input front to back; past its end it reads as zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t left() const { return size_ - at_; }
  uint64_t number(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t{at_ < size_ ? data_[at_++] : 0u} << (8 * i);
    return value;
  }
  size_t copy(uint8_t* to, size_t most) {
    const size_t count = std::min(most, left());
    std::memcpy(to, data_ + at_, count);
    at_ += count;
    return count;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

  bool bind(const char* address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &at.sin_addr);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) return false;
    socklen_t size = sizeof name_;
    return ::getsockname(fd_, reinterpret_cast<sockaddr*>(&name_), &size) == 0;
  }
  const sockaddr_in& name() const { return name_; }

 private:
  int fd_;
  sockaddr_in name_{};
};

// The sink's datagram socket, the driver's, one stranger on another port and
// one on another address with the driver's port: a source is its address and
// its port together.
struct Loopback {
  Socket sink;
  std::array<Socket, 3> senders;
  size_t count = 0;  // of senders bound: the driver's port may be taken on 127.0.0.2

  Loopback() {
    if (!sink.bind("127.0.0.1", 0) || !senders[0].bind("127.0.0.1", 0) ||
        !senders[1].bind("127.0.0.1", 0)) {
      return;
    }
    count = senders[2].bind("127.0.0.2", ntohs(senders[0].name().sin_port)) ? 3 : 2;
  }

  // Whatever an earlier input left queued must not pass for this one's.
  void drain() {
    uint8_t scrap[1];
    while (::recv(sink.fd(), scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
  }

  bool deliver(size_t sender, const std::vector<uint8_t>& bytes) {
    const sockaddr_in& to = sink.name();
    if (::sendto(senders[sender].fd(), bytes.data(), bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
      return false;
    }
    pollfd waiting{sink.fd(), POLLIN, 0};
    return ::poll(&waiting, 1, 1000) == 1;
  }
};

std::u16string receivedText(Input& in, uint8_t flags) {
  uint8_t frame[kFrameBytes] = {};
  if ((flags & kNumbers) == 0) {
    in.copy(frame, in.number(2) % (kFrameBytes + 1));
    return decodeFrame(frame);
  }
  std::string announcement = "+ SampleRate";
  for (const char* name : {"", " Bits", " PacketSize", " DatagramSize"}) {
    announcement += name;
    announcement += " " + std::to_string(static_cast<int64_t>(in.number(8)));
  }
  // The way the driver sends it: one frame, read back as the sink reads it.
  const std::u16string sent = encodeFrame(announcement, frame);
  const std::u16string text = decodeFrame(frame);
  require(text == sent && text == toUtf16(announcement));
  require(classify(text) == Step::kAnnouncement);
  return text;
}

void checkText(const std::u16string& text, const std::string& printable) {
  require(text.size() < kFrameUnits + 1 && text.find(u'\0') == std::u16string::npos);
  // Lone surrogates become U+FFFD, one unit for one, and the UTF-8 printed
  // reads back as itself.
  const std::u16string back = toUtf16(printable);
  require(back.size() == text.size() && toUtf8(back) == printable);
  // The log's lines stay one each.
  require(escaped(printable).find_first_of("\r\n") == std::string::npos);
}

void checkFormat(const StreamFormat& f, bool datagrams) {
  require(f.bits == 16 || f.bits == 24 || f.bits == 32);
  require(f.layout == (f.bits == 16   ? Layout::kPcm16
                       : f.bits == 32 ? Layout::kPcm32
                                      : Layout::kPcm24));
  require(f.rate > 0 && uint64_t{f.rate} * 16 == f.dsdRate());
  require(f.packetFrames > 0 && f.packetBytes > 0 && f.packetBytes <= kLargestPacket);
  require(uint64_t{f.packetFrames} * 2 * (f.bits / 8) == f.packetBytes);
  require(f.periodNs() >= kShortestPeriodNs);
  // The pieces of a packet are whole and make up the packet exactly.
  require(f.datagramSize > 0 && f.datagramsPerPacket() > 0);
  require(uint64_t{f.datagramsPerPacket()} * f.datagramSize == f.packetBytes);
  if (datagrams) require(f.datagramSize <= kLargestDatagram);
  if (dopPossible(f)) require(f.bits == 24);
}

bool holds(const std::vector<uint8_t>& packet, uint32_t size, uint32_t slot, uint8_t fill) {
  const size_t from = size_t{slot} * size;
  return packet[from] == fill && packet[from + size - 1] == fill;
}

void takeDatagrams(Input& in, const StreamFormat& format) {
  static Loopback loopback;
  if (loopback.count == 0) return;
  loopback.drain();
  const uint32_t size = format.datagramSize;
  const uint32_t perPacket = format.datagramsPerPacket();
  // Exactly the packet, as the sink's queue allocates it: a piece written
  // past it is the sanitizer's to see.
  std::vector<uint8_t> packet(format.packetBytes);
  DatagramIntake intake(loopback.sink.fd(), size, perPacket);
  std::vector<uint8_t> fills;  // what each piece under way was sent as
  size_t primer = 0;
  std::vector<uint8_t> bytes;
  for (int n = 0; n < kMostDatagrams && in.left() >= 3; ++n) {
    const auto how = static_cast<uint8_t>(in.number(1));
    const auto sized = static_cast<uint32_t>(in.number(2));
    const size_t sender = (how & 3u) % loopback.count;
    const uint32_t length = (how & kWholePiece) != 0 ? size : sized % (kLargestDatagram + 1);
    const auto fill = static_cast<uint8_t>(n + 1);
    if ((how & kRestart) != 0) {
      intake.restart();
      fills.clear();
    }
    bytes.assign(length, fill);
    if (!loopback.deliver(sender, bytes)) return;
    const DatagramIntake::Kind kind = intake.take(packet.data());
    require(kind != DatagramIntake::Kind::kNothing);
    if (n == 0) {
      require(kind == DatagramIntake::Kind::kPriming && intake.primed());
      require(intake.describePriming().find("127.0.0.") != std::string::npos);
      primer = sender;
      continue;
    }
    require((kind == DatagramIntake::Kind::kForeign) == (sender != primer));
    if (kind == DatagramIntake::Kind::kForeign) continue;
    require(intake.lastBytes() == length);
    if (length == size) {
      fills.push_back(fill);
      const bool whole = fills.size() == perPacket;
      require(kind == (whole ? DatagramIntake::Kind::kPacket : DatagramIntake::Kind::kPiece));
      if (whole) {
        for (uint32_t slot = 0; slot < perPacket; ++slot) {
          require(holds(packet, size, slot, fills[slot]));
        }
        // The sink looks for DoP markers in what it was sent.
        looksLikeDop(packet.data(), format.packetBytes);
        startsAsDop(packet.data(), format.packetBytes);
        fills.clear();
      }
    } else {
      require(kind == DatagramIntake::Kind::kStop || kind == DatagramIntake::Kind::kMalformed);
      require(intake.dropped() == fills.size());
      fills.clear();
    }
    require(intake.pieces() == fills.size() && intake.pieces() < perPacket);
    for (uint32_t slot = 0; slot < fills.size(); ++slot) {
      require(holds(packet, size, slot, fills[slot]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const auto flags = static_cast<uint8_t>(in.number(1));
  const bool datagrams = (flags & kDatagrams) != 0;
  const std::u16string text = receivedText(in, flags);
  const std::string printable = toUtf8(text);
  checkText(text, printable);
  if (classify(text) != Step::kAnnouncement) return 0;

  std::string why;
  const std::optional<StreamFormat> format = parseAnnouncement(printable, datagrams, &why);
  require(format.has_value() == parseAnnouncement(printable, datagrams, nullptr).has_value());
  if (!format) {
    require(!why.empty());
    return 0;
  }
  checkFormat(*format, datagrams);
  if (datagrams && format->packetBytes <= kLargestIntakePacket) takeDatagrams(in, *format);
  return 0;
}
