#include "sink/os/thread_priority.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <string>

namespace tavro::sink::os {
namespace {

// avrt.dll is looked up, not linked: a system without the Multimedia Class
// Scheduler still runs the sink at the priorities below.
using AvSetMmThreadCharacteristicsFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
using AvRevertMmThreadCharacteristicsFn = BOOL(WINAPI*)(HANDLE);

struct Avrt {
  AvSetMmThreadCharacteristicsFn set = nullptr;
  AvRevertMmThreadCharacteristicsFn revert = nullptr;
};

const Avrt& avrt() {
  // Kept loaded for the process: a thread's registration lives in it.
  static const Avrt loaded = [] {
    Avrt functions;
    if (const HMODULE module = ::LoadLibraryW(L"avrt.dll")) {
      functions.set = reinterpret_cast<AvSetMmThreadCharacteristicsFn>(
          reinterpret_cast<void*>(::GetProcAddress(module, "AvSetMmThreadCharacteristicsW")));
      functions.revert = reinterpret_cast<AvRevertMmThreadCharacteristicsFn>(
          reinterpret_cast<void*>(::GetProcAddress(module, "AvRevertMmThreadCharacteristics")));
      if (functions.set == nullptr || functions.revert == nullptr) functions = Avrt{};
    }
    return functions;
  }();
  return loaded;
}

// The calling thread's registration with the scheduler, until reverted.
thread_local HANDLE mmcssTask = nullptr;

}  // namespace

std::string raiseThreadPriority(int below) {
  // The scheduler's "Pro Audio" class is what audio hosts run under: it
  // keeps the thread ahead of ordinary work however busy the PC is, which a
  // thread priority alone does not.
  std::string got;
  if (mmcssTask == nullptr && avrt().set != nullptr) {
    DWORD taskIndex = 0;
    mmcssTask = avrt().set(L"Pro Audio", &taskIndex);
  }
  if (mmcssTask != nullptr) got = "MMCSS Pro Audio, ";
  // Above THREAD_PRIORITY_HIGHEST only time-critical is left, which the
  // tick pacer takes; the receiving stays a step under it.
  const int priority = below == 0 ? THREAD_PRIORITY_TIME_CRITICAL : THREAD_PRIORITY_HIGHEST;
  if (::SetThreadPriority(::GetCurrentThread(), priority)) {
    return got + (below == 0 ? "THREAD_PRIORITY_TIME_CRITICAL" : "THREAD_PRIORITY_HIGHEST");
  }
  return got + "normal priority";
}

void restoreThreadPriority() {
  if (mmcssTask != nullptr) {
    avrt().revert(mmcssTask);
    mmcssTask = nullptr;
  }
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

void preciseWakeups() {
  // Process-wide, and once: the system's timer then ticks every millisecond
  // instead of every 15.6 ms, which a tick every few milliseconds needs.
  static const bool done = (::timeBeginPeriod(1), true);
  (void)done;
}

}  // namespace tavro::sink::os
