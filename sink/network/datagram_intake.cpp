#include "sink/network/datagram_intake.h"

namespace tavro::sink {
namespace {

constexpr uint32_t kPlainPrimingBytes = 32;
constexpr uint32_t kPlainStopBytes = 11;
constexpr uint32_t kRegisteredStopBytes = 1;

}  // namespace

DatagramIntake::DatagramIntake(os::Socket socket, uint32_t datagramSize,
                               uint32_t datagramsPerPacket)
    : socket_(socket), size_(datagramSize), perPacket_(datagramsPerPacket) {}

DatagramIntake::Kind DatagramIntake::take(uint8_t* packet) {
  os::Endpoint from;
  // A datagram larger than a piece comes cut, with its size (or on Windows
  // one more than a piece): never a piece either way.
  const os::Io io = os::receiveFrom(socket_, packet + size_t{pieces_} * size_, size_, from);
  if (io.error != os::IoError::kNone) return Kind::kNothing;
  lastBytes_ = static_cast<uint64_t>(io.bytes);
  if (!primed_) {
    primed_ = true;
    source_ = from;
    registered_ = lastBytes_ == size_;
    return Kind::kPriming;
  }
  if (from != source_) return Kind::kForeign;
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
  std::string text = "priming datagram of " + std::to_string(lastBytes_) + " bytes from " +
                     os::endpointText(source_) +
                     (registered_ ? ": Registered I/O" : ": plain UDP");
  if (!registered_ && lastBytes_ != kPlainPrimingBytes) text += " (unexpected priming size)";
  return text;
}

}  // namespace tavro::sink
