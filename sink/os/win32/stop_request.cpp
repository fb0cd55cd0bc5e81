#include "sink/os/stop_request.h"

#include <windows.h>

#include <atomic>

namespace tavro::sink::os {
namespace {

std::atomic<bool> requested{false};
HANDLE requestedEvent = nullptr;

BOOL WINAPI noteStop(DWORD /*kind*/) {
  requested.store(true);
  if (requestedEvent != nullptr) ::SetEvent(requestedEvent);
  return TRUE;
}

}  // namespace

StopRequests::StopRequests() {
  if (requestedEvent == nullptr) requestedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(noteStop, TRUE);
}

bool StopRequests::wait(int64_t timeoutNs) {
  if (requested.load()) return true;
  if (requestedEvent != nullptr) {
    ::WaitForSingleObject(requestedEvent, static_cast<DWORD>((timeoutNs + 999'999) / 1'000'000));
  } else {
    ::Sleep(static_cast<DWORD>(timeoutNs / 1'000'000));
  }
  return requested.load();
}

}  // namespace tavro::sink::os
