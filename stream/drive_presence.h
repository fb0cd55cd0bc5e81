#pragma once
// Drive mode: the streamer plays from a removable drive on this PC.
#include "stream/session.h"

namespace tavro::stream {

// The last step of every packAndSend that did not fail sending: when the
// removable drive is gone, the control connection is closed, which ends the
// stream.

void checkDrivePresence(Session& session) noexcept;

}  // namespace tavro::stream
