#include "stream/drive_presence.h"

#include "control/control_connection.h"
#include "driver/vantrel.h"
#include "platform/drives.h"

namespace tavro::stream {

void checkDrivePresence(driver::Vantrel& driver) noexcept {
  if (driver.streamConfig.driveMode == 0 || driver.drivePath.empty()) return;
  // The streamer plays from that drive: without it the stream cannot go on.
  if (!platform::pathExists(driver.drivePath.c_str())) control::closeControlConnection();
}

}  // namespace tavro::stream
