// TAVROSettings.exe: the control panel the driver starts. One instance runs
// at a time (the driver tests its mutex before it starts one); with "quiet",
// the driver's way, it opens no window and waits in the notification area.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "driver/control_panel.h"
#include "settings/win32/control_ids.h"
#include "settings/win32/settings_window.h"
#include "settings/win32/window_layout.h"

namespace {

// The driver gives "quiet" as the whole command line, so it may also stand
// where a program's own name would.
bool startedQuiet() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return false;
  bool quiet = false;
  for (int i = 0; i < count; ++i) quiet = quiet || lstrcmpiW(arguments[i], L"quiet") == 0;
  LocalFree(arguments);
  return quiet;
}

// A second start: the running instance shows its window, unless this start
// is the driver's own, which wants no window.
int handOver(bool quiet) {
  if (quiet) return 0;
  const UINT show = RegisterWindowMessageW(tavro::settings::ids::kShowMessageName);
  // The first instance may still be making its window.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (HWND running = FindWindowW(tavro::settings::ids::kWindowClass, nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(running, &process);
      // This start came from the user (or a host's button): the right to
      // bring a window to the front passes to the instance that has one.
      AllowSetForegroundWindow(process);
      PostMessageW(running, show, 0, 0);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const bool quiet = startedQuiet();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, tavro::driver::kControlPanelMutexName);
  if (mutex == nullptr) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return handOver(quiet);
  }
  // The driver starts the panel at idle priority; a window the user works
  // with should not wait behind every busy program.
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  tavro::settings::becomeDpiAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  tavro::settings::SettingsWindow window;
  if (!window.create(instance, quiet)) {
    CloseHandle(mutex);
    return 1;
  }
  if (!quiet) window.show();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window.handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  CloseHandle(mutex);
  return 0;
}
