#include "platform/process.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

bool launchDetached(const char* applicationPath, const char* commandLine) noexcept {
  if (injected(Call::CreateProcessA)) return false;
  char line[MAX_PATH];  // CreateProcessA may write into the command line
  lstrcpynA(line, commandLine, MAX_PATH);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(applicationPath, line, nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

}  // namespace tavro::platform
