#pragma once
// The settings window and everything it owns: the form, the tray icon, the
// status of the driver's notifications and the Test button's probe. It lives
// for the whole process, hidden while it is not wanted.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/panel_values.h"
#include "settings/win32/tray_icon.h"

namespace tavro::settings {

class SettingsWindow {
 public:
  // Creates the window hidden; false when Windows would not.
  bool create(HINSTANCE instance, bool quiet);
  void show();
  HWND handle() const noexcept { return window_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void onCreate();
  void onCommand(int id, int code);
  void onProbeDone(WPARAM purpose, LPARAM result);
  void onNotification(uint32_t code);
  void onDpiChanged(UINT dpi, const RECT& suggested);
  // Clears the error state once a stream starts well.
  void watchStream();
  void clearStatus();
  void addStatusLine(const std::wstring& line);

  void fillChoices();
  void showValues(const PanelValues& values);
  PanelValues formValues() const;
  void showLocalPanel(bool singlePc);
  void fillDevices(const std::vector<std::wstring>& listed, const std::wstring& chosen);
  void refreshLocalStreamer();
  bool apply();
  void hide();
  void startTest();

  HWND item(int id) const { return GetDlgItem(window_, id); }

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  bool quiet_ = false;
  std::unique_ptr<TrayIcon> tray_;
  PanelValues stored_;
  std::vector<std::wstring> devices_;  // the device list's entries, in order
  UINT notificationMessage_ = 0;
  UINT showMessage_ = 0;
  UINT taskbarCreatedMessage_ = 0;
  bool testRunning_ = false;
  bool problemSeen_ = false;
  bool streaming_ = false;  // a stream was running at the last look
  std::string testHost_;  // what the running test asks, for its result's text
  bool deviceProbeRunning_ = false;
};

}  // namespace tavro::settings
