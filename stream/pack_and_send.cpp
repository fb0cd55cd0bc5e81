#include "stream/pack_and_send.h"

#include "control/control_connection.h"
#include "driver/dsd_rates.h"
#include "driver/vantrel.h"
#include "stream/data_transport.h"
#include "stream/drive_presence.h"
#include "stream/packing.h"
#include "stream/stream_control.h"

namespace tavro::stream {

const PacketSteps kPacketSteps{&sendPacket, &checkDrivePresence};

bool packCurrentHalf(driver::Vantrel& driver) noexcept {
  if (!driver.streaming.load(std::memory_order_acquire)) return false;
  if (control::controlSocket().load(std::memory_order_acquire) == platform::kInvalidSocket) {
    return false;
  }
  const stream::StreamConfig& config = driver.streamConfig;
  const int32_t frames = config.framesPerHalf;
  // Start refuses buffers that do not match the stream; this keeps a
  // mismatch that slipped through from reading past a half.
  if (frames <= 0 || frames > driver.wordsPerHalf || driver.packetBuffer == nullptr ||
      driver.outputBuffers[0] == nullptr || driver.outputBuffers[1] == nullptr) {
    return false;
  }
  const size_t first = driver.currentHalf == 0 ? 0 : static_cast<size_t>(driver.wordsPerHalf);
  const PackJob job{
      static_cast<const uint32_t*>(driver.outputBuffers[0]) + first,
      static_cast<const uint32_t*>(driver.outputBuffers[1]) + first,
      static_cast<uint32_t>(frames),
      config.layout,
      config.adjust,
  };
  pack(job, static_cast<uint8_t*>(driver.packetBuffer));
  return true;
}

void sendPacked(driver::Vantrel& driver, const PacketSteps& steps) noexcept {
  // Raised before the test of the flag stop() clears from the host's thread:
  // either this thread sees the stop and sends nothing, or the stop sees the
  // send under way and lets it finish.
  std::atomic<bool>& sending = streamState().sending;
  sending.store(true);
  if (driver.streaming.load()) {
    const bool sent = steps.send(driver);
    sending.store(false);
    if (!sent) return;
    ++driver.packetsSent;
  } else {
    sending.store(false);
  }
  steps.checkDrive(driver);
}

}  // namespace tavro::stream

namespace tavro::driver {

void Vantrel::packAndSend() noexcept { stream::packAndSend(*this, stream::kPacketSteps); }

}  // namespace tavro::driver
