#include "settings/win32/local_streamer.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

namespace tavro::settings {
namespace {

std::wstring processPath(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  std::wstring found;
  if (QueryFullProcessImageNameW(process, 0, path, &length)) found.assign(path, length);
  CloseHandle(process);
  return found;
}

// Calls `visit` with the id of every process whose image is the streamer;
// matched by name first, then by full path, so another tavro-sink elsewhere
// on the disk is never touched.
void forEachLocalStreamer(const std::function<void(DWORD)>& visit) {
  const std::wstring wanted = localStreamerPath();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, kLocalStreamerFileName) != 0) continue;
    if (lstrcmpiW(processPath(entry.th32ProcessID).c_str(), wanted.c_str()) == 0) {
      visit(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
}

}  // namespace

std::wstring localStreamerPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L'\\') + 1);
  return folder + kLocalStreamerFileName;
}

bool localStreamerExists() {
  const std::wstring path = localStreamerPath();
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool localStreamerRunning() {
  bool running = false;
  forEachLocalStreamer([&](DWORD) { running = true; });
  return running;
}

bool startLocalStreamer() {
  if (!localStreamerExists()) return false;
  const std::wstring path = localStreamerPath();
  std::wstring commandLine = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

bool stopLocalStreamer() {
  bool allEnded = true;
  forEachLocalStreamer([&](DWORD id) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
      allEnded = false;
      return;
    }
    if (!TerminateProcess(process, 0) || WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) {
      allEnded = false;
    }
    CloseHandle(process);
  });
  return allEnded;
}

}  // namespace tavro::settings
