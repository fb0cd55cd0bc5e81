#include "sink/network/packet_assembler.h"

namespace tavro::sink {

PacketAssembler::PacketAssembler(const StreamFormat& format, uint32_t transport,
                                 os::Socket control, os::Socket udp)
    : packetBytes_(format.packetBytes), control_(control), udp_(udp) {
  if (transport == 2) intake_.emplace(udp, format.datagramSize, format.datagramsPerPacket());
}

PacketAssembler::Kind PacketAssembler::take(uint8_t* packet) {
  return intake_ ? takeDatagram(packet) : takeBytes(packet);
}

void PacketAssembler::restart() {
  if (intake_) intake_->restart();
}

void PacketAssembler::cutShort() {
  if (!underWay()) return;
  ++malformed_;
  filled_ = 0;
  restart();
}

std::string PacketAssembler::describeStop() const {
  return "stop datagram of " + std::to_string(intake_ ? intake_->lastBytes() : 0) + " bytes";
}

PacketAssembler::Kind PacketAssembler::takeBytes(uint8_t* packet) {
  const os::Io got = os::receive(control_, packet + filled_, packetBytes_ - filled_);
  if (got.ended()) {
    endError_ = got.error;
    cutShort();
    return Kind::kEnded;
  }
  if (got.bytes <= 0) return Kind::kNothing;
  bytes_ += static_cast<uint64_t>(got.bytes);
  filled_ += static_cast<uint32_t>(got.bytes);
  if (filled_ < packetBytes_) return Kind::kPiece;
  filled_ = 0;
  return Kind::kPacket;
}

PacketAssembler::Kind PacketAssembler::takeDatagram(uint8_t* packet) {
  switch (intake_->take(packet)) {
    case DatagramIntake::Kind::kNothing:
      return Kind::kNothing;
    case DatagramIntake::Kind::kPriming:
      return Kind::kPriming;
    case DatagramIntake::Kind::kForeign:
      ++foreign_;
      return Kind::kNothing;
    case DatagramIntake::Kind::kPiece:
      bytes_ += intake_->lastBytes();
      return Kind::kPiece;
    case DatagramIntake::Kind::kPacket:
      bytes_ += intake_->lastBytes();
      return Kind::kPacket;
    case DatagramIntake::Kind::kStop:
      if (intake_->dropped() > 0) ++malformed_;  // the packet under way stays incomplete
      return Kind::kStop;
    case DatagramIntake::Kind::kMalformed:
      // It spoils the packet it belongs to, which is the one under way if
      // there is one.
      bytes_ += intake_->lastBytes();
      ++malformed_;
      return Kind::kMalformed;
  }
  return Kind::kNothing;
}

}  // namespace tavro::sink
