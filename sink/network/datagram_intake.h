#pragma once
// Sorts a stream's datagrams in transport mode 2: the priming one (which
// says where ticks go and whether the driver uses Registered I/O), the
// pieces of each packet, the stop datagram, and what does not belong.
#include <cstdint>
#include <string>

#include "sink/os/socket.h"

namespace tavro::sink {

class DatagramIntake {
 public:
  enum class Kind {
    kNothing,    // no datagram was waiting
    kPriming,    // the first datagram: `source()` now tells where ticks go
    kPiece,      // a piece of the packet under way
    kPacket,     // the last piece: the packet is whole
    kStop,       // the driver's stop datagram
    kMalformed,  // a datagram of the wrong size: the packet under way is spoilt
    kForeign,    // from another sender than the priming one: ignored
  };

  DatagramIntake(os::Socket socket, uint32_t datagramSize, uint32_t datagramsPerPacket);

  // Receives one datagram, a piece into `packet` at the place of its number.
  Kind take(uint8_t* packet);
  // Drops the pieces of the packet under way, as when it is given up.
  void restart() { pieces_ = 0; }

  bool primed() const { return primed_; }
  uint32_t pieces() const { return pieces_; }
  uint64_t lastBytes() const { return lastBytes_; }
  // At a stop or malformed datagram: the pieces of the packet it cut short.
  uint32_t dropped() const { return dropped_; }
  const os::Endpoint& source() const { return source_; }
  const char* transport() const { return !primed_ ? "udp" : registered_ ? "udp-rio" : "udp"; }
  // "priming datagram of 32 bytes from 127.0.0.1:5000: plain UDP", for the log.
  std::string describePriming() const;

 private:
  const os::Socket socket_;
  const uint32_t size_;
  const uint32_t perPacket_;
  uint32_t pieces_ = 0;
  uint32_t dropped_ = 0;
  uint64_t lastBytes_ = 0;
  bool primed_ = false;
  bool registered_ = false;
  os::Endpoint source_;
};

}  // namespace tavro::sink
