#include "stream/pack_and_send.h"

#include "control/control_connection.h"
#include "stream/data_transport.h"
#include "stream/drive_presence.h"
#include "stream/dsd_rates.h"
#include "stream/packing.h"
#include "stream/session.h"
#include "stream/stream_control.h"

namespace tavro::stream {

const PacketSteps kPacketSteps{&sendPacket, &checkDrivePresence};

bool packCurrentHalf(Session& session) noexcept {
  if (!session.streaming.load(std::memory_order_acquire)) return false;
  if (!session.connection->open()) return false;
  const stream::StreamConfig& config = session.config;
  const int32_t frames = config.framesPerHalf;
  // Start refuses buffers that do not match the stream; this keeps a
  // mismatch that slipped through from reading past a half.
  if (frames <= 0 || frames > session.wordsPerHalf || session.packetBuffer == nullptr ||
      session.outputs[0] == nullptr || session.outputs[1] == nullptr) {
    return false;
  }
  const size_t first = session.currentHalf == 0 ? 0 : static_cast<size_t>(session.wordsPerHalf);
  const PackJob job{
      static_cast<const uint32_t*>(session.outputs[0]) + first,
      static_cast<const uint32_t*>(session.outputs[1]) + first,
      static_cast<uint32_t>(frames),
      config.layout,
      config.adjust,
  };
  pack(job, static_cast<uint8_t*>(session.packetBuffer));
  return true;
}

void sendPacked(Session& session, const PacketSteps& steps) noexcept {
  // Raised before the test of the flag stop() clears from the host's thread:
  // either this thread sees the stop and sends nothing, or the stop sees the
  // send under way and lets it finish.
  std::atomic<bool>& sending = session.slot->sending;
  sending.store(true);
  if (session.streaming.load()) {
    const bool sent = steps.send(session);
    sending.store(false);
    if (!sent) return;
    ++session.packetsSent;
  } else {
    sending.store(false);
  }
  steps.checkDrive(session);
}

}  // namespace tavro::stream
