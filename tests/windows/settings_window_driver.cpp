// Drives TAVROSettings.exe as a user would, and stands in for a host that
// uses the driver: one step per group of arguments, in order, each with its
// own time limit. Prints what it reads; exits 1 at the first step that fails.
//
//   wait-window MS            the settings window is visible
//   wait-hidden MS            it exists and is not visible
//   wait-running MS | wait-gone MS   the panel's mutex exists | is gone
//   click ID | set ID TEXT    BM_CLICK | WM_SETTEXT on a control
//   command ID                WM_COMMAND to the window (the tray menu's ids)
//   wait-text ID TEXT MS      the control's text (a list box: any line) contains TEXT
//   windows N                 exactly N windows of the settings class exist
//   host-init DLL | host-panel DLL   a host's init | controlPanel on the driver
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "asio/asio.h"
#include "com/class_id.h"
#include "com/com_types.h"
#include "settings/win32/control_ids.h"

namespace {

namespace ids = tavro::settings::ids;
constexpr UINT kSendLimitMs = 5000;

HWND panel() { return FindWindowW(ids::kWindowClass, nullptr); }

template <typename Check>
bool within(unsigned long ms, Check check) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  do {
    if (check()) return true;
    Sleep(100);
  } while (GetTickCount64() < deadline);
  return check();
}

std::wstring widened(const char* text) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string narrowed(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

std::wstring controlText(HWND control) {
  wchar_t className[32] = {};
  GetClassNameW(control, className, 32);
  DWORD_PTR result = 0;
  if (lstrcmpiW(className, L"ListBox") == 0) {
    std::wstring lines;
    SendMessageTimeoutW(control, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendLimitMs, &result);
    const auto count = static_cast<WPARAM>(result);
    for (WPARAM i = 0; i < count; ++i) {
      wchar_t line[512] = {};
      SendMessageTimeoutW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line), SMTO_ABORTIFHUNG,
                          kSendLimitMs, &result);
      lines += line;
      lines += L"\n";
    }
    return lines;
  }
  wchar_t text[4096] = {};
  SendMessageTimeoutW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      kSendLimitMs, &result);
  return text;
}

bool mutexExists() {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "TAVROStreamer Control Panel");
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

int countWindows() {
  int count = 0;
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, ids::kWindowClass, nullptr));) {
    ++count;
  }
  return count;
}

// As a host does: the class id doubles as the interface id. The object is
// released at once; the panel lives on in its own process.
bool host(const char* dll, bool panelButton) {
  HMODULE module = LoadLibraryA(dll);
  if (module == nullptr) return false;
  using GetClassObject = tavro::com::HResult(__stdcall*)(const tavro::com::Guid*,
                                                         const tavro::com::Guid*, void**);
  auto getClassObject = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  void* factory = nullptr;
  if (getClassObject == nullptr ||
      getClassObject(&tavro::com::kClsidTavroDriver, &tavro::com::kIidIClassFactory, &factory) != 0) {
    return false;
  }
  void* object = nullptr;
  auto* classFactory = static_cast<tavro::com::IClassFactory*>(factory);
  classFactory->CreateInstance(nullptr, tavro::com::kClsidTavroDriver, &object);
  classFactory->Release();
  if (object == nullptr) return false;
  auto* driver = static_cast<tavro::asio::IAsio*>(object);
  bool ok = true;
  if (panelButton) {
    const tavro::asio::AsioError result = driver->controlPanel();
    std::printf("controlPanel: %ld\n", static_cast<long>(result));
    ok = result == tavro::asio::kAseOk;
  } else {
    std::printf("init: %ld\n", static_cast<long>(driver->init(nullptr)));
  }
  driver->Release();
  return ok;
}

bool step(int argc, char** argv, int& i) {
  const std::string name = argv[i++];
  auto argument = [&]() -> const char* { return i < argc ? argv[i++] : ""; };
  auto number = [&]() { return std::strtoul(argument(), nullptr, 10); };
  auto control = [&](int id) { return GetDlgItem(panel(), id); };
  DWORD_PTR result = 0;
  if (name == "wait-window") {
    return within(number(), [] { return panel() != nullptr && IsWindowVisible(panel()); });
  }
  if (name == "wait-hidden") {
    return within(number(), [] { return panel() != nullptr && !IsWindowVisible(panel()); });
  }
  if (name == "wait-running") return within(number(), [] { return mutexExists(); });
  if (name == "wait-gone") return within(number(), [] { return !mutexExists(); });
  if (name == "click") {
    return SendMessageTimeoutW(control(static_cast<int>(number())), BM_CLICK, 0, 0,
                               SMTO_ABORTIFHUNG, kSendLimitMs, &result) != 0;
  }
  if (name == "set") {
    HWND target = control(static_cast<int>(number()));
    const std::wstring text = widened(argument());
    return SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, kSendLimitMs, &result) != 0;
  }
  if (name == "command") {
    return PostMessageW(panel(), WM_COMMAND, MAKEWPARAM(number(), 0), 0) != 0;
  }
  if (name == "wait-text") {
    const int id = static_cast<int>(number());
    const std::wstring wanted = widened(argument());
    const unsigned long ms = number();
    std::wstring seen;
    const bool found = within(ms, [&] {
      seen = controlText(control(id));
      return seen.find(wanted) != std::wstring::npos;
    });
    std::printf("text of %d:\n%s\n", id, narrowed(seen).c_str());
    return found;
  }
  if (name == "windows") {
    const int wanted = static_cast<int>(number());
    std::printf("windows: %d\n", countWindows());
    return countWindows() == wanted;
  }
  if (name == "host-init") return host(argument(), false);
  if (name == "host-panel") return host(argument(), true);
  std::printf("unknown step %s\n", name.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc;) {
    const char* name = argv[i];
    if (!step(argc, argv, i)) {
      std::printf("step failed: %s\n", name);
      return 1;
    }
    std::printf("ok: %s\n", name);
    std::fflush(stdout);
  }
  return 0;
}
