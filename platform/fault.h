#pragma once
// Fault injection: a test makes one named platform call fail (or report a
// chosen value) for as long as a ScopedFault lives. Every backend function
// asks `injected` first, so every failure path of the logic can be reached in
// the native build and in both Windows builds alike.
#include <cstdint>

namespace tavro::platform {

// One entry per platform call, named after the Windows function it stands for.
enum class Call : uint16_t {
  // modules and processes
  GetModuleHandleA,
  GetModuleFileNameA,
  CreateProcessA,
  // kernel objects and threads
  OpenMutexA,
  CreateMutexA,
  CloseHandle,
  CreateEventA,
  SetEvent,
  WaitForSingleObject,
  CreateThread,
  SetPriorityClass,
  SetThreadPriority,
  SetThreadAffinityMask,
  Sleep,
  // user interface
  RegisterWindowMessageA,
  PostMessageA,
  MessageBoxA,
  // memory
  VirtualAlloc,
  VirtualFree,
  // system information and files
  GetVersionExA,
  GetLogicalDrives,
  GetDriveTypeA,
  GetFileAttributesA,
  QueryPerformanceCounter,
  // text and COM helpers
  CharLowerA,
  StringFromCLSID,
  WideCharToMultiByte,
  // registry
  RegOpenKeyExA,
  RegCreateKeyA,
  RegGetValueA,
  RegQueryValueExA,
  RegSetValueExA,
  RegEnumKeyA,
  RegDeleteKeyA,
  RegDeleteValueA,
  RegCloseKey,
  // sockets
  WSAStartup,
  WSACleanup,
  getaddrinfo,
  gethostbyname,
  socket,
  WSASocketA,
  setsockopt,
  WSAIoctl,
  connect,
  bind,
  send,
  sendto,
  recv,
  recvfrom,
  select,
  shutdown,
  closesocket,
  // registered I/O
  RIORegisterBuffer,
  RIOCreateCompletionQueue,
  RIOCreateRequestQueue,
  RIOSend,
  RIOReceive,
  RIODequeueCompletion,
  RIONotify,
  RIOCloseCompletionQueue,
  RIODeregisterBuffer,
  getsockname,
  // the user's opt-in log file
  GetEnvironmentVariableA,
  AppendToFile,
  CancelIoEx,
  Count
};

const char* callName(Call call) noexcept;

struct FaultPlan {
  int32_t skip = 0;    // calls that still succeed before the first failure
  int32_t times = -1;  // failures to inject; -1 means every call from then on
  int64_t value = 0;   // for calls that report a value instead of failing
};

// Asked by the backends. True when this call must fail now; `value` (if not
// null) receives the plan's value. Consumes one injected failure.
bool injected(Call call, int64_t* value = nullptr) noexcept;

// How many times the call was attempted since the last reset (injected or not).
uint32_t callCount(Call call) noexcept;
void resetCallCounts() noexcept;

class ScopedFault {
 public:
  explicit ScopedFault(Call call, FaultPlan plan = {}) noexcept;
  ~ScopedFault();
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;

 private:
  Call call_;
};

}  // namespace tavro::platform
