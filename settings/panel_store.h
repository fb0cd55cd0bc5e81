#pragma once
// The registry values the settings window stands for:
//   HKCU\Software\TAVRO7           "SinglePCOnly", "Host" (as the driver reads them)
//   HKCU\Software\TAVRO7\Streamer  the streamer on this PC
//   HKCU\...\CurrentVersion\Run    "TAVRO Streamer", when it starts at logon
#include <string>

#include "settings/panel_values.h"

namespace tavro::settings {

inline constexpr char kStreamerKey[] = "Software\\TAVRO7\\Streamer";
inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValue[] = "TAVRO Streamer";

// What is stored, with defaults for what is not (or is not of its type).
PanelValues loadPanelValues() noexcept;

// Writes what the values say, and only what is in use: SinglePCOnly always;
// Host for another computer; the local streamer's values and the logon entry
// (the quoted `streamerPath`) for this PC. The values must have passed
// whyNotStorable. Returns null, or why the store refused, as a sentence.
const char* storePanelValues(const PanelValues& values, const std::string& streamerPath) noexcept;

}  // namespace tavro::settings
