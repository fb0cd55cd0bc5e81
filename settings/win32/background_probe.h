#pragma once
// Runs the streamer probe on a thread of its own, so that the window answers
// while the streamer does not: the result comes back as `message` posted to
// `window`, wParam the caller's `purpose`, lParam a ProbeResult* the window
// then owns (taken back with takeProbeResult).
#include <windows.h>

#include <memory>
#include <string>

#include "settings/streamer_probe.h"

namespace tavro::settings {

// False when no thread could be started; nothing will be posted then.
bool startBackgroundProbe(HWND window, UINT message, WPARAM purpose, std::string host) noexcept;

std::unique_ptr<ProbeResult> takeProbeResult(LPARAM lParam) noexcept;

}  // namespace tavro::settings
