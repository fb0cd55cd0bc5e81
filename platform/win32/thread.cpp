#include "platform/thread.h"

#include <windows.h>

#include <new>

#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {
namespace {

struct StartRecord {
  ThreadEntry entry;
  void* argument;
};

DWORD WINAPI runEntry(void* record) {
  const StartRecord start = *static_cast<StartRecord*>(record);
  delete static_cast<StartRecord*>(record);
  return start.entry(start.argument);
}

HANDLE handleOf(ThreadHandle thread) noexcept { return static_cast<HANDLE>(thread); }

}  // namespace

void sleepMilliseconds(uint32_t milliseconds) noexcept {
  if (injected(Call::Sleep)) return;
  Sleep(milliseconds);
}

ThreadHandle startThread(ThreadEntry entry, void* argument) noexcept {
  if (injected(Call::CreateThread)) return nullptr;
  auto* record = new (std::nothrow) StartRecord{entry, argument};
  if (record == nullptr) return nullptr;
  HANDLE thread = CreateThread(nullptr, 0, runEntry, record, 0, nullptr);
  if (thread == nullptr) {
    delete record;
    return nullptr;
  }
  countOpened(Resource::kThread);
  return thread;
}

ThreadHandle openCurrentThread() noexcept {
  HANDLE real = nullptr;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, GetCurrentThread(), process, &real, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  countOpened(Resource::kThread);
  return real;
}

bool waitForThread(ThreadHandle thread, uint32_t milliseconds) noexcept {
  if (injected(Call::WaitForSingleObject) || thread == nullptr) return false;
  return WaitForSingleObject(handleOf(thread), milliseconds) == WAIT_OBJECT_0;
}

void closeThread(ThreadHandle thread) noexcept {
  if (injected(Call::CloseHandle) || thread == nullptr) return;
  if (CloseHandle(handleOf(thread))) countClosed(Resource::kThread);
}

bool isCurrentThread(ThreadHandle thread) noexcept {
  return thread != nullptr && GetThreadId(handleOf(thread)) == GetCurrentThreadId();
}

uintptr_t setThreadAffinity(ThreadHandle thread, uintptr_t mask) noexcept {
  if (injected(Call::SetThreadAffinityMask) || thread == nullptr) return 0;
  return SetThreadAffinityMask(handleOf(thread), mask);
}

bool raiseToTimeCritical(ThreadHandle thread) noexcept {
  if (injected(Call::SetThreadPriority) || thread == nullptr) return false;
  return SetThreadPriority(handleOf(thread), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

uint32_t processPriorityClass() noexcept { return GetPriorityClass(GetCurrentProcess()); }

bool setProcessPriorityClass(uint32_t priorityClass) noexcept {
  if (injected(Call::SetPriorityClass)) return false;
  return SetPriorityClass(GetCurrentProcess(), priorityClass) != 0;
}

}  // namespace tavro::platform
