#pragma once
// Telling the user and other programs about failures.
//
// On Windows these are the real window-message and message-box calls. Linux has
// no broadcast window message, so the POSIX backend appends one line per event
// to a log file that tools and tests read: "message <name> <code>" and
// "messagebox <caption>: <text>". The file is $TAVRO_DESKTOP_LOG, or
// tavro-desktop.log in $XDG_RUNTIME_DIR (or /tmp) when that is unset.
#include <cstdint>

namespace tavro::platform {

// RegisterWindowMessageA: the same name gives the same id in every process.
uint32_t registerWindowMessage(const char* name) noexcept;
// PostMessageA(HWND_BROADCAST, message, code, 0); does not wait.
void broadcastMessage(uint32_t message, uintptr_t code) noexcept;
// MessageBoxA(no owner, text, caption, MB_OK).
void messageBox(const char* text, const char* caption) noexcept;

}  // namespace tavro::platform
