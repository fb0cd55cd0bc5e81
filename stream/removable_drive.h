#pragma once
// Drive mode: the streamer plays from a removable drive, whose root the
// driver hands to the host.
#include <string>

#include "control/control_connection.h"

namespace tavro::stream {

// Sets `path` to the root of the last removable drive ("F:\") when the
// streamer runs on this PC, and leaves it empty when it runs elsewhere.
// False only when the streamer is on this PC and no removable drive is there.

bool findRemovableDrive(const control::StreamerLink& link, std::string& path) noexcept;

}  // namespace tavro::stream
