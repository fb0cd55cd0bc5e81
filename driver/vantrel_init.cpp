#include "control/control_connection.h"
#include "control/error_texts.h"
#include "driver/control_panel.h"
#include "driver/process.h"
#include "driver/vantrel.h"
#include "platform/desktop.h"
#include "platform/log.h"

namespace tavro::driver {

asio::AsioBool Vantrel::init(void* /*systemHandle*/) noexcept {
  // Every call, also once initialised: the panel may have been closed since.
  launchControlPanelUnlessRunning();
  if (initialised) return asio::kAsioTrue;

  // A user may have created the log file since the module was loaded.
  platform::log::refresh();
  platform::log::line("init: connecting to the streamer");
  notifyMessage = platform::registerWindowMessage(control::kNotificationMessageName);
  // What a host reads if init fails before naming a cause: a default, not
  // yet a failure, so it is kept out of the log.
  errorText.set(control::errors::kOpenFailure, /*quiet=*/true);
  if (report(control::connectStreamer(process().connection, streamer)) == asio::kAseOk) {
    platform::log::line("init: connected to %s port %s", streamer.hostName.c_str(),
                        streamer.portText.c_str());
    initialised = true;
    return asio::kAsioTrue;
  }
  // The connection it closed was the running stream's, if one runs.
  {
    const std::unique_lock<std::mutex> turn = takeStopTurn();
    if (RunningStream* running = process().running.load()) running->end();
  }
  char text[kErrorTextSize];
  errorText.copyTo(text);
  platform::log::line("init: failed: %s", text);
  return asio::kAsioFalse;
}

}  // namespace tavro::driver
