#pragma once
// Puts a stream's packets together off the wire, alike for every transport:
// in mode 1 the control connection's bytes, cut at the announced packet
// size; in mode 2 the driver's datagrams, sorted by DatagramIntake. What
// every receiver reports alike is counted here: data bytes, packets spoilt
// or cut short, datagrams from other senders.
#include <cstdint>
#include <optional>
#include <string>

#include "sink/format/stream_format.h"
#include "sink/network/datagram_intake.h"
#include "sink/os/socket.h"

namespace tavro::sink {

class PacketAssembler {
 public:
  enum class Kind {
    kNothing,    // nothing whole: nothing waited, or it was not the stream's
    kPriming,    // mode 2's first datagram: `intake()` now knows where ticks go
    kPiece,      // part of the packet under way came
    kPacket,     // the packet is whole
    kStop,       // the driver's stop datagram
    kMalformed,  // a datagram of the wrong size spoilt the packet under way
    kEnded,      // the control connection ended: `endError()` says how
  };

  // `udp` is read in mode 2 only.
  PacketAssembler(const StreamFormat& format, uint32_t transport, os::Socket control,
                  os::Socket udp);

  // One receive from the socket the packets come on, into `packet`.
  Kind take(uint8_t* packet);
  // The packet under way is given up (mode 2): its pieces are dropped.
  void restart();
  // The stream ends here: a packet under way was cut short.
  void cutShort();

  os::Socket socket() const { return intake_ ? udp_ : control_; }
  bool datagrams() const { return intake_.has_value(); }
  // Mode 2 only.
  const DatagramIntake& intake() const { return *intake_; }
  bool underWay() const { return intake_ ? intake_->pieces() > 0 : filled_ > 0; }
  os::IoError endError() const { return endError_; }
  // "stop datagram of 11 bytes", for the log.
  std::string describeStop() const;

  uint64_t bytes() const { return bytes_; }
  uint64_t malformed() const { return malformed_; }
  uint64_t foreign() const { return foreign_; }

 private:
  Kind takeBytes(uint8_t* packet);
  Kind takeDatagram(uint8_t* packet);

  const uint32_t packetBytes_;
  const os::Socket control_;
  const os::Socket udp_;
  std::optional<DatagramIntake> intake_;
  uint32_t filled_ = 0;  // mode 1: of the packet under way
  os::IoError endError_ = os::IoError::kNone;
  uint64_t bytes_ = 0;
  uint64_t malformed_ = 0;
  uint64_t foreign_ = 0;
};

}  // namespace tavro::sink
