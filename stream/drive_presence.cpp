#include "stream/drive_presence.h"

#include "control/control_connection.h"
#include "platform/drives.h"
#include "stream/session.h"

namespace tavro::stream {

void checkDrivePresence(Session& session) noexcept {
  if (session.config.driveMode == 0 || session.drivePath.empty()) return;
  // The streamer plays from that drive: without it the stream cannot go on.
  if (!platform::pathExists(session.drivePath.c_str()))
    control::closeControlConnection(*session.connection);
}

}  // namespace tavro::stream
