#include "settings/win32/tray_icon.h"

#include <shellapi.h>

#include "settings/win32/control_ids.h"

namespace tavro::settings {

TrayIcon::TrayIcon(HWND window) noexcept {
  data_.cbSize = sizeof data_;
  data_.hWnd = window;
  data_.uID = 1;
  data_.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data_.uCallbackMessage = kTrayMessage;
  data_.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  lstrcpynW(data_.szTip, L"TAVRO Settings", ARRAYSIZE(data_.szTip));
  add();
}

TrayIcon::~TrayIcon() {
  if (added_) Shell_NotifyIconW(NIM_DELETE, &data_);
}

void TrayIcon::add() noexcept {
  data_.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
}

void TrayIcon::setTip(const std::wstring& tip) noexcept {
  lstrcpynW(data_.szTip, tip.c_str(), ARRAYSIZE(data_.szTip));
  data_.uFlags = NIF_TIP;
  if (added_) Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void TrayIcon::showBalloon(const std::wstring& title, const std::wstring& text) noexcept {
  data_.uFlags = NIF_INFO;
  data_.dwInfoFlags = NIIF_WARNING;
  lstrcpynW(data_.szInfoTitle, title.c_str(), ARRAYSIZE(data_.szInfoTitle));
  lstrcpynW(data_.szInfo, text.c_str(), ARRAYSIZE(data_.szInfo));
  if (added_) Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void TrayIcon::showMenu() noexcept {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  AppendMenuW(menu, MF_STRING, ids::kMenuSettings, L"&Settings\u2026");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, ids::kMenuExit, L"E&xit");
  SetMenuDefaultItem(menu, ids::kMenuSettings, FALSE);
  POINT at{};
  GetCursorPos(&at);
  // Without this the menu stays open when the user clicks elsewhere.
  SetForegroundWindow(data_.hWnd);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, data_.hWnd, nullptr);
  PostMessageW(data_.hWnd, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

}  // namespace tavro::settings
