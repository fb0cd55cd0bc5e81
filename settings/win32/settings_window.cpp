#include "settings/win32/settings_window.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "control/control_connection.h"
#include "control/outcome.h"
#include "driver/buffer_size.h"
#include "settings/panel_store.h"
#include "settings/status_sentences.h"
#include "settings/streamer_probe.h"
#include "settings/win32/background_probe.h"
#include "settings/win32/control_ids.h"
#include "settings/win32/local_streamer.h"
#include "settings/win32/window_layout.h"

namespace tavro::settings {
namespace {

constexpr UINT kProbeDone = WM_APP + 2;
constexpr WPARAM kTestProbe = 0;
constexpr WPARAM kDeviceProbe = 1;
// After Start, the streamer needs a moment before it answers its device list.
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshDelayMs = 1500;
// The driver sends nothing when a stream starts well; the mutex it holds
// while one runs says so, looked for this often.
constexpr UINT_PTR kStreamWatchTimer = 2;
constexpr UINT kStreamWatchMs = 1000;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr size_t kStatusLinesKept = 200;

const wchar_t* const kTransportNames[] = {L"TCP", L"UDP"};
const wchar_t* const kWordLengthNames[] = {L"16 bits", L"24 bits", L"32 bits"};
const wchar_t* const kDsdModeNames[] = {L"DoP", L"Native", L"Auto"};
constexpr wchar_t kOwnChoice[] = L"(the streamer's own choice)";

std::wstring fromCodePage(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

std::string toCodePage(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int bytes = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                      bytes, nullptr, nullptr);
  return narrow;
}

std::wstring windowText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

const wchar_t* asWide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

int selection(HWND combo) { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
void select(HWND combo, int index) { SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
void addChoice(HWND combo, const wchar_t* text) {
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

template <typename T, size_t N>
int indexOf(const T (&table)[N], const T& value) {
  for (size_t i = 0; i < N; ++i) {
    if (table[i] == value) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool SettingsWindow::create(HINSTANCE instance, bool quiet) {
  quiet_ = quiet;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &SettingsWindow::procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = ids::kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return false;

  const UINT dpi = windowDpi(nullptr);
  const SIZE size = outerSizeFor(dpi, kStyle, kExStyle);
  window_ = CreateWindowExW(kExStyle, ids::kWindowClass, L"TAVRO Settings", kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance, this);
  return window_ != nullptr;
}

LRESULT CALLBACK SettingsWindow::procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<SettingsWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<SettingsWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT SettingsWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != 0) {
    if (message == notificationMessage_) {
      onNotification(static_cast<uint32_t>(wParam));
      return 0;
    }
    if (message == showMessage_) {
      show();
      return 0;
    }
    if (message == taskbarCreatedMessage_) {
      if (tray_) tray_->add();
      return 0;
    }
  }
  switch (message) {
    case WM_CREATE:
      onCreate();
      return 0;
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      onCommand(ids::kCancel, BN_CLICKED);
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer) {
        KillTimer(window_, kRefreshTimer);
        refreshLocalStreamer();
      }
      if (wParam == kStreamWatchTimer) watchStream();
      return 0;
    case DM_GETDEFID:
      return MAKELONG(ids::kOk, DC_HASDEFID);
    case kProbeDone:
      onProbeDone(wParam, lParam);
      return 0;
    case kTrayMessage:
      if (lParam == WM_RBUTTONUP || lParam == WM_CONTEXTMENU) tray_->showMenu();
      if (lParam == WM_LBUTTONDBLCLK || lParam == NIN_BALLOONUSERCLICK) show();
      return 0;
    case WM_DPICHANGED:
      onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    // Logoff, and Windows Installer's Restart Manager closing what holds the
    // files it replaces: the panel ends rather than stand in the way.
    case WM_ENDSESSION:
      if (wParam) DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      tray_.reset();
      if (font_ != nullptr) DeleteObject(font_);
      font_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void SettingsWindow::onCreate() {
  notificationMessage_ = RegisterWindowMessageA(control::kNotificationMessageName);
  showMessage_ = RegisterWindowMessageW(ids::kShowMessageName);
  taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated");
  createControls(window_);
  const UINT dpi = windowDpi(window_);
  font_ = createMessageFont(dpi);
  layOutControls(window_, dpi, font_);
  SendMessageW(item(ids::kHost), EM_LIMITTEXT, 15, 0);
  SendMessageW(item(ids::kBufferPackets), EM_LIMITTEXT, 2, 0);
  fillChoices();
  stored_ = loadPanelValues();
  showValues(stored_);
  addStatusLine(L"No problem reported by the driver.");
  tray_ = std::make_unique<TrayIcon>(window_);
  SetTimer(window_, kStreamWatchTimer, kStreamWatchMs, nullptr);
}

void SettingsWindow::watchStream() {
  HANDLE running = OpenMutexA(SYNCHRONIZE, FALSE, control::kStreamMutexName);
  const bool streaming = running != nullptr;
  if (running != nullptr) CloseHandle(running);
  const bool started = streaming && !streaming_;
  streaming_ = streaming;
  if (!started || !problemSeen_) return;
  // A stale error would say the driver is broken while it plays.
  problemSeen_ = false;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  clearStatus();
  addStatusLine(fromCodePage(startedWellLine(now.wHour, now.wMinute, now.wSecond), CP_UTF8));
  tray_->setTip(L"TAVRO: streaming");
}

void SettingsWindow::clearStatus() {
  HWND status = item(ids::kStatus);
  SendMessageW(status, LB_RESETCONTENT, 0, 0);
  SendMessageW(status, LB_SETHORIZONTALEXTENT, 0, 0);
}

void SettingsWindow::addStatusLine(const std::wstring& line) {
  HWND status = item(ids::kStatus);
  if (SendMessageW(status, LB_GETCOUNT, 0, 0) >= static_cast<LRESULT>(kStatusLinesKept)) {
    SendMessageW(status, LB_DELETESTRING, 0, 0);
  }
  const LRESULT at = SendMessageW(status, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(status, LB_SETTOPINDEX, static_cast<WPARAM>(at), 0);
  // A sentence wider than the list scrolls sideways instead of being cut off.
  HDC dc = GetDC(status);
  const HGDIOBJ before =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(status, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
  SelectObject(dc, before);
  ReleaseDC(status, dc);
  const LRESULT wide = size.cx + GetSystemMetrics(SM_CXEDGE) * 4;
  if (wide > SendMessageW(status, LB_GETHORIZONTALEXTENT, 0, 0)) {
    SendMessageW(status, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(wide), 0);
  }
}

void SettingsWindow::fillChoices() {
  for (const wchar_t* name : kTransportNames) addChoice(item(ids::kTransport), name);
  for (const wchar_t* name : kWordLengthNames) addChoice(item(ids::kWordLength), name);
  for (const wchar_t* name : kDsdModeNames) addChoice(item(ids::kDsdMode), name);
  for (uint32_t index = 0; index < kBufferIndexCount; ++index) {
    const int32_t frames = driver::bufferSizeFor(index, 44100.0);
    wchar_t text[48];
    std::swprintf(text, 48, L"%d (%.1f ms)", frames, frames * 1000.0 / 44100.0);
    addChoice(item(ids::kBufferIndex), text);
  }
}

void SettingsWindow::showValues(const PanelValues& values) {
  CheckRadioButton(window_, ids::kSinglePc, ids::kOtherPc,
                   values.singlePc ? ids::kSinglePc : ids::kOtherPc);
  SetWindowTextW(item(ids::kHost), fromCodePage(values.host, CP_ACP).c_str());
  const LocalStreamerValues& local = values.local;
  fillDevices({}, fromCodePage(local.device, CP_UTF8));
  select(item(ids::kTransport), local.transport == 2 ? 1 : 0);
  select(item(ids::kWordLength), indexOf(kWordLengths, local.wordLength));
  select(item(ids::kBufferIndex), local.bufferIndex < kBufferIndexCount
                                      ? static_cast<int>(local.bufferIndex)
                                      : -1);
  SetWindowTextW(item(ids::kBufferPackets), std::to_wstring(local.bufferPackets).c_str());
  int dsd = -1;
  for (size_t i = 0; i < std::size(kDsdModes); ++i) {
    if (local.dsdMode == kDsdModes[i]) dsd = static_cast<int>(i);
  }
  select(item(ids::kDsdMode), dsd);
  CheckDlgButton(window_, ids::kStartAtLogon, values.startAtLogon ? BST_CHECKED : BST_UNCHECKED);
  showLocalPanel(values.singlePc);
}

PanelValues SettingsWindow::formValues() const {
  PanelValues values;
  values.singlePc = IsDlgButtonChecked(window_, ids::kSinglePc) == BST_CHECKED;
  values.host = toCodePage(windowText(item(ids::kHost)), CP_ACP);
  LocalStreamerValues& local = values.local;
  const int device = selection(item(ids::kDevice));
  if (device >= 0 && static_cast<size_t>(device) < devices_.size()) {
    local.device = toCodePage(devices_[static_cast<size_t>(device)], CP_UTF8);
  }
  local.transport = selection(item(ids::kTransport)) == 1 ? 2 : 1;
  const int word = selection(item(ids::kWordLength));
  local.wordLength = word >= 0 ? kWordLengths[word] : 0;
  const int buffer = selection(item(ids::kBufferIndex));
  local.bufferIndex = buffer >= 0 ? static_cast<uint32_t>(buffer) : kBufferIndexCount;
  local.bufferPackets = static_cast<uint32_t>(std::wcstoul(windowText(item(ids::kBufferPackets)).c_str(), nullptr, 10));
  const int dsd = selection(item(ids::kDsdMode));
  local.dsdMode = dsd >= 0 ? kDsdModes[dsd] : "";
  values.startAtLogon = IsDlgButtonChecked(window_, ids::kStartAtLogon) == BST_CHECKED;
  return values;
}

void SettingsWindow::showLocalPanel(bool singlePc) {
  EnableWindow(item(ids::kHost), !singlePc);
  // Everything from the group box to the state line belongs to the panel.
  bool inPanel = false;
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    if (id == ids::kLocalGroup) inPanel = true;
    if (inPanel) ShowWindow(child, singlePc ? SW_SHOWNA : SW_HIDE);
    if (id == ids::kLocalState) break;
  }
  if (singlePc && IsWindowVisible(window_)) refreshLocalStreamer();
}

void SettingsWindow::fillDevices(const std::vector<std::wstring>& listed,
                                 const std::wstring& chosen) {
  devices_.assign(1, std::wstring());
  for (const std::wstring& name : listed) devices_.push_back(name);
  // A stored device the streamer does not list (or that it cannot be asked
  // about) stays a choice, so that OK never changes it behind the user's back.
  bool present = chosen.empty();
  for (const std::wstring& name : devices_) present = present || name == chosen;
  if (!present) devices_.push_back(chosen);

  HWND combo = item(ids::kDevice);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  int chosenIndex = 0;
  for (size_t i = 0; i < devices_.size(); ++i) {
    addChoice(combo, i == 0 ? kOwnChoice : devices_[i].c_str());
    if (devices_[i] == chosen) chosenIndex = static_cast<int>(i);
  }
  select(combo, chosenIndex);
}

void SettingsWindow::refreshLocalStreamer() {
  const bool exists = localStreamerExists();
  const bool running = exists && localStreamerRunning();
  SetWindowTextW(item(ids::kLocalState), !exists    ? L"tavro-sink.exe is not installed here."
                                         : running ? L"Running."
                                                   : L"Not running.");
  EnableWindow(item(ids::kLocalStart), exists && !running);
  EnableWindow(item(ids::kLocalStop), running);
  if (!deviceProbeRunning_) {
    deviceProbeRunning_ =
        startBackgroundProbe(window_, kProbeDone, kDeviceProbe, control::kSinglePcHost);
  }
}

void SettingsWindow::show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  if (IsDlgButtonChecked(window_, ids::kSinglePc) == BST_CHECKED) refreshLocalStreamer();
}

void SettingsWindow::hide() { ShowWindow(window_, SW_HIDE); }

bool SettingsWindow::apply() {
  const PanelValues values = formValues();
  if (const char* why = whyNotStorable(values)) {
    MessageBoxA(window_, why, "TAVRO Settings", MB_OK | MB_ICONWARNING);
    return false;
  }
  const std::string streamer = toCodePage(localStreamerPath(), CP_ACP);
  if (const char* why = storePanelValues(values, streamer)) {
    MessageBoxA(window_, why, "TAVRO Settings", MB_OK | MB_ICONERROR);
    return false;
  }
  stored_ = values;
  return true;
}

void SettingsWindow::startTest() {
  if (testRunning_) return;
  const PanelValues values = formValues();
  std::string host = control::kSinglePcHost;
  if (!values.singlePc) {
    host = std::string(trimmed(values.host));
    if (!isDottedIpv4(host)) {
      SetWindowTextW(item(ids::kTestResult),
                     fromCodePage(whyNotStorable(values), CP_ACP).c_str());
      return;
    }
  }
  SetWindowTextW(item(ids::kTestResult), (L"Asking the streamer at " +
                                          fromCodePage(host, CP_ACP) + L"\u2026").c_str());
  testRunning_ = startBackgroundProbe(window_, kProbeDone, kTestProbe, host);
  EnableWindow(item(ids::kTest), !testRunning_);
  testHost_ = host;
}

void SettingsWindow::onProbeDone(WPARAM purpose, LPARAM lParam) {
  const std::unique_ptr<ProbeResult> result = takeProbeResult(lParam);
  if (purpose == kTestProbe) {
    testRunning_ = false;
    EnableWindow(item(ids::kTest), TRUE);
    SetWindowTextW(item(ids::kTestResult), asWide(describeProbe(testHost_, *result)));
    return;
  }
  deviceProbeRunning_ = false;
  const int current = selection(item(ids::kDevice));
  const std::wstring chosen = current >= 0 && static_cast<size_t>(current) < devices_.size()
                                  ? devices_[static_cast<size_t>(current)]
                                  : std::wstring();
  std::vector<std::wstring> listed;
  if (result->reached) {
    for (const std::u16string& name : result->settings.interfaces) listed.emplace_back(asWide(name));
  }
  fillDevices(listed, chosen);
}

void SettingsWindow::onNotification(uint32_t code) {
  if (code == static_cast<uint32_t>(control::Notification::kNone)) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring line =
      fromCodePage(statusLine(code, now.wHour, now.wMinute, now.wSecond), CP_UTF8);
  if (!problemSeen_) clearStatus();  // "No problem reported", or the last good start
  problemSeen_ = true;
  addStatusLine(line);
  const std::wstring sentence = fromCodePage(sentenceFor(code), CP_UTF8);
  tray_->setTip(L"TAVRO: " + sentence);
  if (!IsWindowVisible(window_)) tray_->showBalloon(L"TAVRO Driver", sentence);
}

void SettingsWindow::onCommand(int id, int code) {
  switch (id) {
    case ids::kSinglePc:
    case ids::kOtherPc:
      if (code == BN_CLICKED) showLocalPanel(id == ids::kSinglePc);
      break;
    case ids::kTest:
      startTest();
      break;
    case ids::kOk:
      if (apply()) hide();
      break;
    case ids::kApply:
      apply();
      break;
    case ids::kCancel:
      showValues(stored_);
      hide();
      break;
    case ids::kLocalStart:
      if (!startLocalStreamer()) {
        MessageBoxW(window_, L"tavro-sink.exe could not be started.", L"TAVRO Settings",
                    MB_OK | MB_ICONERROR);
      }
      SetTimer(window_, kRefreshTimer, kRefreshDelayMs, nullptr);
      refreshLocalStreamer();
      break;
    case ids::kLocalStop:
      stopLocalStreamer();
      refreshLocalStreamer();
      break;
    case ids::kMenuSettings:
      show();
      break;
    case ids::kMenuExit:
      DestroyWindow(window_);
      break;
    default:
      break;
  }
}

void SettingsWindow::onDpiChanged(UINT dpi, const RECT& suggested) {
  HFONT font = createMessageFont(dpi);
  layOutControls(window_, dpi, font);
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace tavro::settings
