#include "control/control_connection.h"
#include "driver/control_panel.h"
#include "driver/error_texts.h"
#include "driver/vantrel.h"
#include "platform/desktop.h"
#include "stream/stream_control.h"

namespace tavro::driver {

asio::AsioBool Vantrel::init(void* /*systemHandle*/) noexcept {
  // Every call, also once initialised: the panel may have been closed since.
  launchControlPanelUnlessRunning();
  if (initialised) return asio::kAsioTrue;

  notifyMessage = platform::registerWindowMessage(kNotificationMessageName);
  setErrorText(errors::kOpenFailure);
  if (control::connectStreamer(*this)) {
    initialised = true;
    return asio::kAsioTrue;
  }
  stream::endStream(*this);
  return asio::kAsioFalse;
}

}  // namespace tavro::driver
