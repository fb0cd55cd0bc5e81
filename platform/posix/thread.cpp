#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/fault.h"
#include "platform/open_counts.h"

namespace tavro::platform {
namespace {

struct ThreadRecord {
  pthread_t thread{};
  bool joinable = false;  // started here, not opened
  ThreadEntry entry = nullptr;
  void* argument = nullptr;
};

void* runEntry(void* record) {
  auto* self = static_cast<ThreadRecord*>(record);
  self->entry(self->argument);
  return nullptr;
}

ThreadRecord* recordOf(ThreadHandle thread) noexcept { return static_cast<ThreadRecord*>(thread); }

std::atomic<uint32_t> keptPriorityClass{kNormalPriorityClass};

}  // namespace

void sleepMilliseconds(uint32_t milliseconds) noexcept {
  if (injected(Call::Sleep)) return;
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0) {
  }
}

ThreadHandle startThread(ThreadEntry entry, void* argument) noexcept {
  if (injected(Call::CreateThread)) return nullptr;
  auto* record = new (std::nothrow) ThreadRecord;
  if (record == nullptr) return nullptr;
  record->entry = entry;
  record->argument = argument;
  record->joinable = true;
  if (pthread_create(&record->thread, nullptr, runEntry, record) != 0) {
    delete record;
    return nullptr;
  }
  countOpened(Resource::kThread);
  return record;
}

ThreadHandle openCurrentThread() noexcept {
  auto* record = new (std::nothrow) ThreadRecord;
  if (record == nullptr) return nullptr;
  record->thread = pthread_self();
  countOpened(Resource::kThread);
  return record;
}

bool waitForThread(ThreadHandle thread, uint32_t milliseconds) noexcept {
  if (injected(Call::WaitForSingleObject)) return false;
  ThreadRecord* record = recordOf(thread);
  if (record == nullptr || !record->joinable) return false;
  if (milliseconds == kWaitForever) {
    if (pthread_join(record->thread, nullptr) != 0) return false;
  } else {
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(record->thread, nullptr, &until) != 0) return false;
  }
  record->joinable = false;  // joined: nothing left to wait for
  return true;
}

void closeThread(ThreadHandle thread) noexcept {
  if (injected(Call::CloseHandle) || thread == nullptr) return;
  ThreadRecord* record = recordOf(thread);
  // A thread nobody waited for must not keep its resources forever.
  if (record->joinable) pthread_detach(record->thread);
  delete record;
  countClosed(Resource::kThread);
}

bool isCurrentThread(ThreadHandle thread) noexcept {
  return thread != nullptr && pthread_equal(recordOf(thread)->thread, pthread_self()) != 0;
}

uintptr_t setThreadAffinity(ThreadHandle thread, uintptr_t mask) noexcept {
  if (injected(Call::SetThreadAffinityMask) || thread == nullptr) return 0;
  const pthread_t target = recordOf(thread)->thread;
  cpu_set_t previous;
  CPU_ZERO(&previous);
  if (pthread_getaffinity_np(target, sizeof previous, &previous) != 0) return 0;
  uintptr_t previousMask = 0;
  for (unsigned cpu = 0; cpu < sizeof(uintptr_t) * 8; ++cpu) {
    if (CPU_ISSET(cpu, &previous)) previousMask |= uintptr_t{1} << cpu;
  }
  cpu_set_t wanted;
  CPU_ZERO(&wanted);
  for (unsigned cpu = 0; cpu < sizeof(uintptr_t) * 8; ++cpu) {
    if ((mask >> cpu) & 1u) CPU_SET(cpu, &wanted);
  }
  if (pthread_setaffinity_np(target, sizeof wanted, &wanted) != 0) return 0;
  return previousMask;
}

bool raiseToTimeCritical(ThreadHandle thread) noexcept {
  if (injected(Call::SetThreadPriority) || thread == nullptr) return false;
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  // Without the right to real-time scheduling the thread keeps its priority.
  return pthread_setschedparam(recordOf(thread)->thread, SCHED_FIFO, &param) == 0;
}

uint32_t processPriorityClass() noexcept { return keptPriorityClass.load(); }

bool setProcessPriorityClass(uint32_t priorityClass) noexcept {
  if (injected(Call::SetPriorityClass)) return false;
  keptPriorityClass.store(priorityClass);
  return true;
}

}  // namespace tavro::platform
