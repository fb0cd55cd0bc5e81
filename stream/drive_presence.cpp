#include "stream/drive_presence.h"

namespace tavro::stream {

void checkDrivePresence(driver::Vantrel& /*driver*/) noexcept {}

}  // namespace tavro::stream
