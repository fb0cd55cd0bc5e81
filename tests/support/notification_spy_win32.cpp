#if defined(_WIN32)
#include <windows.h>

#include <mutex>
#include <thread>

#include "support/notification_spy.h"

namespace tavro::testing {

// The window lives on its own thread with its own message loop, so that
// broadcasts are taken in while the test thread is busy calling the driver.
struct NotificationSpy::Impl {
  std::mutex lock;
  std::vector<uintptr_t> codes;
  UINT message = RegisterWindowMessageA("TAVROStreamerDriver");
  HWND window = nullptr;
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread pump;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == self->message) {
      std::lock_guard guard(self->lock);
      self->codes.push_back(static_cast<uintptr_t>(w));
      return 0;
    }
    return DefWindowProcA(window, message, w, l);
  }

  void run() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Impl::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TavroNotificationSpy";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, windowClass.lpszClassName, "spy", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                             10, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetEvent(ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }
};

NotificationSpy::NotificationSpy() : impl_(std::make_unique<Impl>()) {
  impl_->pump = std::thread([this] { impl_->run(); });
  WaitForSingleObject(impl_->ready, 5000);
}

NotificationSpy::~NotificationSpy() {
  if (impl_->window != nullptr) PostMessageA(impl_->window, WM_QUIT, 0, 0);
  impl_->pump.join();
  CloseHandle(impl_->ready);
}

std::vector<uintptr_t> NotificationSpy::codes() {
  // Posted messages arrive asynchronously: let the pump drain them first.
  if (impl_->window != nullptr) SendMessageA(impl_->window, WM_NULL, 0, 0);
  std::lock_guard guard(impl_->lock);
  return impl_->codes;
}

std::vector<std::string> NotificationSpy::messageBoxes() { return {}; }

}  // namespace tavro::testing
#endif
