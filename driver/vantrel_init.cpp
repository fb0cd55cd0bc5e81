#include <cstdio>

#include "control/control_connection.h"
#include "driver/control_panel.h"
#include "driver/driver_log.h"
#include "driver/error_texts.h"
#include "driver/vantrel.h"
#include "platform/desktop.h"
#include "stream/stream_control.h"

namespace tavro::driver {

asio::AsioBool Vantrel::init(void* /*systemHandle*/) noexcept {
  // Every call, also once initialised: the panel may have been closed since.
  launchControlPanelUnlessRunning();
  if (initialised) return asio::kAsioTrue;

  // A user may have created the log file since the module was loaded.
  log::refresh();
  log::line("init: connecting to the streamer");
  notifyMessage = platform::registerWindowMessage(kNotificationMessageName);
  // What a host reads if init fails before naming a cause: a default, not
  // yet a failure, so it is kept out of the log.
  std::snprintf(errorText, sizeof errorText, "%s", errors::kOpenFailure);
  if (control::connectStreamer(*this)) {
    log::line("init: connected to %s port %s", hostName.c_str(), portText.c_str());
    initialised = true;
    return asio::kAsioTrue;
  }
  stream::endStream(*this);
  log::line("init: failed: %s", errorText);
  return asio::kAsioFalse;
}

}  // namespace tavro::driver
