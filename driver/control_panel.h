#pragma once

namespace tavro::driver {

inline constexpr char kControlPanelMutexName[] = "TAVROStreamer Control Panel";
inline constexpr char kControlPanelFileName[] = "TAVROSettings.exe";
inline constexpr char kControlPanelCommandLine[] = "quiet";
// Any other command line opens the panel's window; a panel already running
// brings its own window to the front and the new one ends.
inline constexpr char kControlPanelOpenCommandLine[] = "settings";

// Starts the control panel beside this module unless its mutex says it runs.
void launchControlPanelUnlessRunning() noexcept;

// Starts the panel beside this module to show its window: false when it is
// not there (or will not start), which the host hears as "no panel".
bool openControlPanel() noexcept;

}  // namespace tavro::driver
