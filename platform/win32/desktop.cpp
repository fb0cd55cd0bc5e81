#include "platform/desktop.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

uint32_t registerWindowMessage(const char* name) noexcept {
  if (injected(Call::RegisterWindowMessageA)) return 0;
  return RegisterWindowMessageA(name);
}

void broadcastMessage(uint32_t message, uintptr_t code) noexcept {
  if (injected(Call::PostMessageA)) return;
  PostMessageA(HWND_BROADCAST, message, static_cast<WPARAM>(code), 0);
}

void messageBox(const char* text, const char* caption) noexcept {
  if (injected(Call::MessageBoxA)) return;
  MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace tavro::platform
