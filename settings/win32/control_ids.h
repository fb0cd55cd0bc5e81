#pragma once
// The settings window's control ids and names, as tests and the program
// share them: a test drives the window through these, as a user would.

namespace tavro::settings::ids {

inline constexpr wchar_t kWindowClass[] = L"TAVROSettingsWindow";
// Sent by a second instance to the first: show the window.
inline constexpr wchar_t kShowMessageName[] = L"TAVROSettings Show";

enum : int {
  kOk = 1,      // IDOK
  kCancel = 2,  // IDCANCEL
  kSinglePc = 1001,
  kOtherPc = 1002,
  kHost = 1003,
  kTest = 1004,
  kTestResult = 1005,
  kLocalGroup = 1009,
  kDevice = 1010,
  kTransport = 1011,
  kWordLength = 1012,
  kBufferIndex = 1013,
  kBufferPackets = 1014,
  kDsdMode = 1015,
  kStartAtLogon = 1016,
  kLocalStart = 1017,
  kLocalStop = 1018,
  kLocalState = 1019,
  kStatus = 1020,
  kApply = 1030,
  // The tray icon's menu; also sent as WM_COMMAND by tests.
  kMenuSettings = 2001,
  kMenuExit = 2002,
};

}  // namespace tavro::settings::ids
