#pragma once
// One tick's packet: pack the half the host has just filled, send it, count
// it, then check the removable drive. Split in two so that a stop arriving
// between packing and sending can be looked at on its own.
#include <cstdint>

#include "stream/session.h"

namespace tavro::stream {

// The send step and the drive check. The stream always uses
// kPacketSteps; a test can put in its own.
struct PacketSteps {
  bool (*send)(Session& session) noexcept;
  void (*checkDrive)(Session& session) noexcept;
};

extern const PacketSteps kPacketSteps;

// Packs half `currentHalf` into the packet buffer. False, with nothing
// written, when there is nothing to send: not streaming, the control
// connection closed, or no buffers of the size the stream packs.
bool packCurrentHalf(Session& session) noexcept;

// After packing: unless a stop has come meanwhile, sends and counts the
// packet; then checks the drive, except after a failed send.
void sendPacked(Session& session, const PacketSteps& steps) noexcept;

inline void packAndSend(Session& session, const PacketSteps& steps) noexcept {
  if (packCurrentHalf(session)) sendPacked(session, steps);
}

}  // namespace tavro::stream
