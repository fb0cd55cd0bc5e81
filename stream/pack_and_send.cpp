// One tick's packet: pack the half the host has just filled, send it, count
// it, then check the removable drive.
#include "platform/drives.h"
#include "stream/packing.h"
#include "stream/session.h"

namespace tavro::stream {

bool drivePresent(const std::string& path) noexcept { return platform::pathExists(path.c_str()); }

bool Session::packCurrentHalf() noexcept {
  if (!state_.ticksWanted()) return false;
  if (!connection_.open()) return false;
  const int32_t frames = config_.framesPerHalf;
  const int32_t wordsPerHalf = host_.wordsPerHalf();
  // Start refuses buffers that do not match the stream; this keeps a
  // mismatch that slipped through from reading past a half.
  if (frames <= 0 || frames > wordsPerHalf || packet_ == nullptr || host_.count() < 2 ||
      host_.block(0) == nullptr || host_.block(1) == nullptr) {
    return false;
  }
  const size_t first = currentHalf_ == 0 ? 0 : static_cast<size_t>(wordsPerHalf);
  const PackJob job{
      host_.block(0) + first, host_.block(1) + first, static_cast<uint32_t>(frames),
      config_.layout,         config_.adjust,
  };
  pack(job, static_cast<uint8_t*>(packet_));
  return true;
}

void Session::sendPacked() noexcept {
  state_.beginSend();
  if (state_.ticksWanted()) {
    const bool sent = transport_.sendPacket();
    state_.endSend();
    if (!sent) {
      ending_ = true;
      endReason_ = EndReason::kSendFailed;
      return;
    }
    packetsSent_.fetch_add(1, std::memory_order_relaxed);
  } else {
    state_.endSend();
  }
  // The streamer plays from that drive: without it the stream cannot go on.
  if (config_.driveMode != 0 && !drivePath_.empty() && !driveCheck_(drivePath_)) {
    ending_ = true;
    endReason_ = EndReason::kDriveGone;
  }
}

}  // namespace tavro::stream
