#pragma once
// Drive mode: the streamer plays from a removable drive on this PC.

namespace tavro::driver {
class Vantrel;
}

namespace tavro::stream {

// The last step of every packAndSend that did not fail sending: when the
// removable drive is gone, the control connection is closed, which ends the
// stream.
void checkDrivePresence(driver::Vantrel& driver) noexcept;

}  // namespace tavro::stream
