#pragma once
// The icon in the notification area: its menu (Settings..., Exit) and the
// balloon that tells a driver's notification while the window is closed.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace tavro::settings {

inline constexpr UINT kTrayMessage = WM_APP + 1;

class TrayIcon {
 public:
  explicit TrayIcon(HWND window) noexcept;
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds it again: after Explorer restarts ("TaskbarCreated") it is gone.
  void add() noexcept;
  void setTip(const std::wstring& tip) noexcept;
  void showBalloon(const std::wstring& title, const std::wstring& text) noexcept;
  // The menu at the cursor; its choice arrives as WM_COMMAND.
  void showMenu() noexcept;

 private:
  NOTIFYICONDATAW data_{};
  bool added_ = false;
};

}  // namespace tavro::settings
