#include "settings/win32/background_probe.h"

#include <system_error>
#include <thread>

namespace tavro::settings {

bool startBackgroundProbe(HWND window, UINT message, WPARAM purpose, std::string host) noexcept {
  try {
    // Detached: a streamer that never answers must not keep the program from
    // ending; the thread owns its copies and touches the window only by posting.
    std::thread([window, message, purpose, host = std::move(host)] {
      auto result = std::make_unique<ProbeResult>(probeStreamer(host));
      if (PostMessageW(window, message, purpose, reinterpret_cast<LPARAM>(result.get()))) {
        result.release();
      }
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::unique_ptr<ProbeResult> takeProbeResult(LPARAM lParam) noexcept {
  return std::unique_ptr<ProbeResult>(reinterpret_cast<ProbeResult*>(lParam));
}

}  // namespace tavro::settings
