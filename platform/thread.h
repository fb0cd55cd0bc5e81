#pragma once
// Threads, priorities, processor affinity and pauses.
#include <cstdint>

namespace tavro::platform {

// Sleep(milliseconds).
void sleepMilliseconds(uint32_t milliseconds) noexcept;

// A thread this process can wait for, pin or raise: a real handle, never the
// calling thread's pseudo-handle. Closed with closeThread.
using ThreadHandle = void*;
using ThreadEntry = uint32_t (*)(void* argument);
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// CreateThread with the default stack, started at once; null on failure.
ThreadHandle startThread(ThreadEntry entry, void* argument) noexcept;
// A handle to the calling thread that other threads may use; null on failure.
ThreadHandle openCurrentThread() noexcept;
// WaitForSingleObject on a started thread: true once it has ended.
bool waitForThread(ThreadHandle thread, uint32_t milliseconds) noexcept;
// CloseHandle. A started thread must have ended; null is ignored.
void closeThread(ThreadHandle thread) noexcept;
bool isCurrentThread(ThreadHandle thread) noexcept;

// SetThreadAffinityMask: the previous mask, or 0 when it could not be set.
uintptr_t setThreadAffinity(ThreadHandle thread, uintptr_t mask) noexcept;
// SetThreadPriority(THREAD_PRIORITY_TIME_CRITICAL). Linux: the best real-time
// policy the process may take, else nothing.
bool raiseToTimeCritical(ThreadHandle thread) noexcept;

// The Windows priority classes the driver uses.
inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kRealtimePriorityClass = 0x100;
// GetPriorityClass / SetPriorityClass of this process. Linux has no class for
// a whole process; there the class is only kept, so callers see one contract.
uint32_t processPriorityClass() noexcept;
bool setProcessPriorityClass(uint32_t priorityClass) noexcept;

}  // namespace tavro::platform
