#pragma once

namespace tavro::driver {

inline constexpr char kControlPanelMutexName[] = "TAVROStreamer Control Panel";
inline constexpr char kControlPanelFileName[] = "TAVROSettings.exe";
inline constexpr char kControlPanelCommandLine[] = "quiet";

// Starts the control panel beside this module unless its mutex says it runs.
void launchControlPanelUnlessRunning() noexcept;

}  // namespace tavro::driver
