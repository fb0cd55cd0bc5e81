#pragma once
// The opt-in log for a user's bug report: one line per lifecycle event,
// appended to TAVRODriver.log in the user's profile folder while that file
// exists. Without the file the driver touches no file beyond looking for it
// at load and at init. Never called per tick: the streaming thread counts,
// and the counts are written at stop.
#include <cstdint>

namespace tavro::platform::log {

inline constexpr char kFileName[] = "TAVRODriver.log";

// Looks for the file again; from then on lines go to it, or nowhere.
void refresh() noexcept;
bool enabled() noexcept;

// One line, "<seconds since load> <text>". Does nothing while disabled.
void line(const char* format, ...) noexcept __attribute__((format(gnu_printf, 1, 2)));

}  // namespace tavro::platform::log
