#include "platform/fault.h"

#include <array>
#include <atomic>

namespace tavro::platform {
namespace {

struct Slot {
  std::atomic<int32_t> skip{0};
  std::atomic<int32_t> times{0};
  std::atomic<int64_t> value{0};
  std::atomic<uint32_t> calls{0};
};

std::array<Slot, static_cast<size_t>(Call::Count)> slots;

Slot& slotOf(Call call) noexcept { return slots[static_cast<size_t>(call)]; }

constexpr const char* kNames[] = {"GetModuleHandleA",
                                  "GetModuleFileNameA",
                                  "CreateProcessA",
                                  "OpenMutexA",
                                  "CreateMutexA",
                                  "CloseHandle",
                                  "CreateEventA",
                                  "SetEvent",
                                  "WaitForSingleObject",
                                  "CreateThread",
                                  "SetPriorityClass",
                                  "SetThreadPriority",
                                  "SetThreadAffinityMask",
                                  "Sleep",
                                  "RegisterWindowMessageA",
                                  "PostMessageA",
                                  "MessageBoxA",
                                  "VirtualAlloc",
                                  "VirtualFree",
                                  "GetVersionExA",
                                  "GetLogicalDrives",
                                  "GetDriveTypeA",
                                  "GetFileAttributesA",
                                  "QueryPerformanceCounter",
                                  "CharLowerA",
                                  "StringFromCLSID",
                                  "WideCharToMultiByte",
                                  "RegOpenKeyExA",
                                  "RegCreateKeyA",
                                  "RegGetValueA",
                                  "RegQueryValueExA",
                                  "RegSetValueExA",
                                  "RegEnumKeyA",
                                  "RegDeleteKeyA",
                                  "RegDeleteValueA",
                                  "RegCloseKey",
                                  "WSAStartup",
                                  "WSACleanup",
                                  "getaddrinfo",
                                  "gethostbyname",
                                  "socket",
                                  "WSASocketA",
                                  "setsockopt",
                                  "WSAIoctl",
                                  "connect",
                                  "bind",
                                  "send",
                                  "sendto",
                                  "recv",
                                  "recvfrom",
                                  "select",
                                  "shutdown",
                                  "closesocket",
                                  "RIORegisterBuffer",
                                  "RIOCreateCompletionQueue",
                                  "RIOCreateRequestQueue",
                                  "RIOSend",
                                  "RIOReceive",
                                  "RIODequeueCompletion",
                                  "RIONotify",
                                  "RIOCloseCompletionQueue",
                                  "RIODeregisterBuffer",
                                  "getsockname",
                                  "GetEnvironmentVariableA",
                                  "AppendToFile",
                                  "CancelIoEx"};
static_assert(std::size(kNames) == static_cast<size_t>(Call::Count));

}  // namespace

const char* callName(Call call) noexcept { return kNames[static_cast<size_t>(call)]; }

bool injected(Call call, int64_t* value) noexcept {
  Slot& slot = slotOf(call);
  slot.calls.fetch_add(1, std::memory_order_relaxed);
  if (slot.times.load(std::memory_order_acquire) == 0) return false;
  if (slot.skip.load(std::memory_order_relaxed) > 0 &&
      slot.skip.fetch_sub(1, std::memory_order_acq_rel) > 0) {
    return false;
  }
  int32_t times = slot.times.load(std::memory_order_acquire);
  while (times != 0) {
    const int32_t next = times < 0 ? times : times - 1;
    if (slot.times.compare_exchange_weak(times, next, std::memory_order_acq_rel)) {
      if (value != nullptr) *value = slot.value.load(std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

uint32_t callCount(Call call) noexcept {
  return slotOf(call).calls.load(std::memory_order_relaxed);
}

void resetCallCounts() noexcept {
  for (Slot& slot : slots) slot.calls.store(0, std::memory_order_relaxed);
}

ScopedFault::ScopedFault(Call call, FaultPlan plan) noexcept : call_(call) {
  Slot& slot = slotOf(call);
  slot.skip.store(plan.skip, std::memory_order_relaxed);
  slot.value.store(plan.value, std::memory_order_relaxed);
  slot.times.store(plan.times, std::memory_order_release);
}

ScopedFault::~ScopedFault() {
  Slot& slot = slotOf(call_);
  slot.times.store(0, std::memory_order_release);
  slot.skip.store(0, std::memory_order_relaxed);
}

}  // namespace tavro::platform
