// A real top-level window, as the control panel has, that prints every
// "TAVROStreamerDriver" notification it receives, one "code N" line each,
// until the file named on its command line appears (or a minute passes).
// Usage: notification_listener STOP-FILE
#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT_PTR kStopTimer = 1;
constexpr UINT kStopPollMs = 50;
constexpr ULONGLONG kLifetimeMs = 60000;

UINT notificationMessage = 0;
const char* stopFile = nullptr;
ULONGLONG startedAt = 0;

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == notificationMessage) {
    std::printf("code %llu\n", static_cast<unsigned long long>(w));
    std::fflush(stdout);
    return 0;
  }
  // A timer message comes only when nothing else is queued: every
  // notification posted before the stop file appeared has been printed.
  if (message == WM_TIMER && w == kStopTimer) {
    if (GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES ||
        GetTickCount64() - startedAt > kLifetimeMs) {
      DestroyWindow(window);
    }
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: notification_listener STOP-FILE\n");
    return 2;
  }
  stopFile = argv[1];
  startedAt = GetTickCount64();
  notificationMessage = RegisterWindowMessageA("TAVROStreamerDriver");
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TavroNotificationListener";
  RegisterClassA(&windowClass);
  // Top-level: HWND_BROADCAST passes message-only windows by.
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "listener", WS_OVERLAPPEDWINDOW, 0, 0,
                                10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr || notificationMessage == 0) {
    std::printf("no window (error %lu)\n", GetLastError());
    return 1;
  }
  SetTimer(window, kStopTimer, kStopPollMs, nullptr);
  std::printf("listening\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  std::printf("end\n");
  return 0;
}
