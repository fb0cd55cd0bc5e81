#include "sink/datagram_intake.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace tavro::sink {
namespace {

constexpr uint32_t kPlainPrimingBytes = 32;
constexpr uint32_t kPlainStopBytes = 11;
constexpr uint32_t kRegisteredStopBytes = 1;

bool sameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

DatagramIntake::DatagramIntake(int fd, uint32_t datagramSize, uint32_t datagramsPerPacket)
    : fd_(fd), size_(datagramSize), perPacket_(datagramsPerPacket) {}

DatagramIntake::Kind DatagramIntake::take(uint8_t* packet) {
  sockaddr_in from{};
  socklen_t fromSize = sizeof from;
  // MSG_TRUNC gives a datagram's real size even when it is larger than a piece.
  const ssize_t count =
      ::recvfrom(fd_, packet + size_t{pieces_} * size_, size_, MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&from), &fromSize);
  if (count < 0) return Kind::kNothing;
  lastBytes_ = static_cast<uint64_t>(count);
  if (!primed_) {
    primed_ = true;
    source_ = from;
    registered_ = lastBytes_ == size_;
    return Kind::kPriming;
  }
  if (!sameEndpoint(from, source_)) return Kind::kForeign;
  if (lastBytes_ == size_) {
    if (++pieces_ < perPacket_) return Kind::kPiece;
    pieces_ = 0;
    return Kind::kPacket;
  }
  dropped_ = pieces_;
  pieces_ = 0;
  return lastBytes_ == (registered_ ? kRegisteredStopBytes : kPlainStopBytes) ? Kind::kStop
                                                                              : Kind::kMalformed;
}

std::string DatagramIntake::describePriming() const {
  char address[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &source_.sin_addr, address, sizeof address);
  std::string text = "priming datagram of " + std::to_string(lastBytes_) + " bytes from " +
                     address + ":" + std::to_string(ntohs(source_.sin_port)) +
                     (registered_ ? ": Registered I/O" : ": plain UDP");
  if (!registered_ && lastBytes_ != kPlainPrimingBytes) text += " (unexpected priming size)";
  return text;
}

}  // namespace tavro::sink
