#pragma once
// The last exchange before audio flows: start tells the streamer the stream's
// format and goes on only when the streamer accepts it.
#include <cstdint>
#include <string_view>

#include "control/control_connection.h"
#include "control/outcome.h"

namespace tavro::control {

inline constexpr char kAnnouncementFormat[] =
    "+ SampleRate %d Bits %d PacketSize %d DatagramSize %d";

struct AnnouncedFormat {
  int32_t sampleRate;  // for DSD, the rate of the carrier frames
  int32_t bits;
  int32_t packetSize;
  int32_t datagramSize;
};

enum class AnnouncementReply {
  kAccepted,   // exactly "+OK"
  kRefused1,   // exactly "ERROR 1"
  kRefused2,   // exactly "ERROR 2"
  kRefused3,   // exactly "ERROR 3"
  kUnexpected  // anything else, "+OK" with more after it included
};

AnnouncementReply classifyAnnouncementReply(std::u16string_view reply) noexcept;

// Sends the announcement on the open control connection and reads the reply.
// Succeeds only for "+OK". Every failure closes the connection; a refusal
// "ERROR n" is reported with notification n.
Outcome announceFormat(Connection& connection, const AnnouncedFormat& format) noexcept;

}  // namespace tavro::control
