#pragma once
// The driver's side of a stream, played by a test against an in-process
// tavro-sink: greeting, announcement, priming, then the first packet at once
// and one packet per tick, each built from the test signal by the packing
// rules of the four wire layouts (written here independently of the sink's
// checks), with an optional fault in one packet.
#include <cstdint>
#include <string>
#include <vector>

namespace tavro::testing {

enum class Priming {
  kNone,        // transport mode 1: packets on the control connection
  kPlain,       // mode 2, plain UDP: 32-byte priming, 11-byte stop datagram
  kRegistered,  // mode 2, Registered I/O: a connected socket, one datagram of
                // datagramSize to prime, 1-byte stop datagram
};

enum class Fault {
  kNone,
  kFlipByte,         // the most significant byte of frame 5's left sample inverted
  kSwapChannels,     // right and left exchanged in the whole packet
  kWrongMarker,      // DoP: frame 0's left marker 0xFA instead of 0x05
  kShortPacket,      // the packet goes out one byte short
  kForeignDatagram,  // before the packet, a stranger sends a datagram of its size
};

struct FakeStream {
  std::string address;          // the sink's
  uint32_t rate = 44100;        // as announced (the DoP frame rate for DoP)
  uint32_t bits = 16;           // on the wire; 24 for DoP
  uint32_t packetFrames = 256;  // frames (DoP frames) per packet
  bool dop = false;
  uint32_t shift = 0;  // the right shift the streamer asked for
  Priming priming = Priming::kNone;
  Fault fault = Fault::kNone;
  uint64_t faultPacket = 2;
  // 0: go on until the sink closes; else stop after that many packets and
  // end the stream as the driver's stop does.
  uint64_t packets = 0;
};

struct FakeResult {
  std::string reply;  // to the announcement
  uint64_t packetsSent = 0;
  bool closedBySink = false;
  std::vector<uint8_t> data;  // every packet's bytes, in order
};

uint32_t packetBytes(const FakeStream& stream);
// DatagramSize as a driver derives it for the stream's transport.
uint32_t datagramSize(const FakeStream& stream);
std::vector<uint8_t> packPacket(const FakeStream& stream, uint64_t index, bool swapped = false);

FakeResult runFakeDriver(const FakeStream& stream);

}  // namespace tavro::testing
