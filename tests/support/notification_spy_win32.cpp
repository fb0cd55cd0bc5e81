#if defined(_WIN32)
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <thread>

#include "support/notification_spy.h"

namespace tavro::testing {
namespace {

// Posted to the spy's own window by codes(). Posted messages are taken in the
// order they were posted, so by the time this one is handled every broadcast
// posted before codes() was called has been recorded. (A sent message would
// not do: sent messages are handled before any posted one.)
constexpr UINT kSyncMessage = WM_APP + 1;
constexpr DWORD kSyncTimeoutMs = 5000;
constexpr char kWindowClass[] = "TavroNotificationSpy";

}  // namespace

// The window lives on its own thread with its own message loop, so that
// broadcasts are taken in while the test thread is busy calling the driver.
// It must be a top-level window: HWND_BROADCAST skips message-only windows.
struct NotificationSpy::Impl {
  std::mutex lock;
  std::vector<uintptr_t> codes;
  UINT message = RegisterWindowMessageA("TAVROStreamerDriver");
  HWND window = nullptr;
  DWORD windowError = 0;
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE synced = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread pump;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == self->message) {
      std::lock_guard guard(self->lock);
      self->codes.push_back(static_cast<uintptr_t>(w));
      return 0;
    }
    if (self != nullptr && message == kSyncMessage) {
      SetEvent(self->synced);
      return 0;
    }
    if (message == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcA(window, message, w, l);
  }

  void run() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Impl::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly for every spy after the first
    SetLastError(0);
    window = CreateWindowExA(0, kWindowClass, "spy", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                             nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
      windowError = GetLastError();
      SetEvent(ready);
      return;  // no window, no loop: the destructor has nothing to stop
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetEvent(ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }
};

NotificationSpy::NotificationSpy() : impl_(std::make_unique<Impl>()) {
  impl_->pump = std::thread([this] { impl_->run(); });
  WaitForSingleObject(impl_->ready, kSyncTimeoutMs);
  // Without its window the spy would see nothing, and "nothing was posted"
  // would pass unchecked. Under Wine this means no display driver could be
  // loaded: cmake/wine-run selects Wine's null driver when there is no display.
  if (impl_->window == nullptr) {
    ADD_FAILURE() << "NotificationSpy could not create its window (error " << impl_->windowError
                  << "); broadcasts cannot be observed";
  }
}

NotificationSpy::~NotificationSpy() {
  if (impl_->window != nullptr) PostMessageA(impl_->window, WM_CLOSE, 0, 0);
  impl_->pump.join();
  CloseHandle(impl_->synced);
  CloseHandle(impl_->ready);
}

std::vector<uintptr_t> NotificationSpy::codes() {
  if (impl_->window != nullptr && PostMessageA(impl_->window, kSyncMessage, 0, 0)) {
    if (WaitForSingleObject(impl_->synced, kSyncTimeoutMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "NotificationSpy's window did not answer within " << kSyncTimeoutMs << " ms";
    }
  }
  std::lock_guard guard(impl_->lock);
  return impl_->codes;
}

std::vector<std::string> NotificationSpy::messageBoxes() { return {}; }

}  // namespace tavro::testing
#endif
