#include "settings/win32/window_layout.h"

#include <commctrl.h>

#include "settings/win32/control_ids.h"

namespace tavro::settings {
namespace {

struct ControlPlace {
  int id;
  const wchar_t* windowClass;
  const wchar_t* text;
  DWORD style;
  int x, y, width, height;
};

constexpr DWORD kLabel = SS_LEFT;
constexpr DWORD kGroupBox = BS_GROUPBOX;
constexpr DWORD kTab = WS_TABSTOP;
constexpr DWORD kList = CBS_DROPDOWNLIST | WS_VSCROLL | kTab;

// Labels come just before their control, so that their mnemonic moves there.
const ControlPlace kControls[] = {
    {0, WC_BUTTONW, L"Where the streamer runs", kGroupBox, 10, 8, 440, 228},
    {ids::kSinglePc, WC_BUTTONW, L"On this &PC", BS_AUTORADIOBUTTON | WS_GROUP | kTab, 22, 28,
     410, 20},
    {ids::kOtherPc, WC_BUTTONW, L"On a&nother computer, at this IPv4 address:",
     BS_AUTORADIOBUTTON, 22, 52, 260, 20},
    {ids::kHost, WC_EDITW, L"", ES_AUTOHSCROLL | WS_GROUP | kTab, 286, 51, 150, 23},
    {ids::kTest, WC_BUTTONW, L"&Test", BS_PUSHBUTTON | kTab, 22, 82, 90, 26},
    {ids::kTestResult, WC_EDITW, L"",
     ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | kTab, 22, 114, 414,
     112},
    {ids::kLocalGroup, WC_BUTTONW, L"The streamer on this PC", kGroupBox, 10, 244, 440, 176},
    {0, WC_STATICW, L"&Device:", kLabel, 22, 268, 110, 20},
    {ids::kDevice, WC_COMBOBOXW, L"", kList, 140, 264, 296, 200},
    {0, WC_STATICW, L"T&ransport:", kLabel, 22, 298, 110, 20},
    {ids::kTransport, WC_COMBOBOXW, L"", kList, 140, 294, 110, 200},
    {0, WC_STATICW, L"&Word length:", kLabel, 262, 298, 90, 20},
    {ids::kWordLength, WC_COMBOBOXW, L"", kList, 356, 294, 80, 200},
    {0, WC_STATICW, L"&Buffer, frames:", kLabel, 22, 328, 110, 20},
    {ids::kBufferIndex, WC_COMBOBOXW, L"", kList, 140, 324, 110, 300},
    {0, WC_STATICW, L"Buffer pa&ckets:", kLabel, 262, 328, 90, 20},
    {ids::kBufferPackets, WC_EDITW, L"", ES_NUMBER | kTab, 356, 325, 80, 23},
    {0, WC_STATICW, L"DSD &mode:", kLabel, 22, 358, 110, 20},
    {ids::kDsdMode, WC_COMBOBOXW, L"", kList, 140, 354, 110, 200},
    {ids::kStartAtLogon, WC_BUTTONW, L"Start at &logon", BS_AUTOCHECKBOX | kTab, 262, 356, 174,
     20},
    {ids::kLocalStart, WC_BUTTONW, L"&Start", BS_PUSHBUTTON | kTab, 22, 386, 90, 26},
    {ids::kLocalStop, WC_BUTTONW, L"St&op", BS_PUSHBUTTON | kTab, 118, 386, 90, 26},
    {ids::kLocalState, WC_STATICW, L"", kLabel, 218, 391, 218, 20},
    {0, WC_STATICW, L"Stat&us:", kLabel, 10, 430, 440, 20},
    {ids::kStatus, WC_LISTBOXW, L"", LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | LBS_NOSEL | kTab, 10,
     450, 440, 92},
    {ids::kOk, WC_BUTTONW, L"OK", BS_DEFPUSHBUTTON | kTab, 198, 552, 80, 26},
    {ids::kCancel, WC_BUTTONW, L"Cancel", BS_PUSHBUTTON | kTab, 284, 552, 80, 26},
    {ids::kApply, WC_BUTTONW, L"&Apply", BS_PUSHBUTTON | kTab, 370, 552, 80, 26},
};

int scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

template <typename Function>
Function user32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

void createControls(HWND window) {
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const ControlPlace& place : kControls) {
    const bool sunken = lstrcmpiW(place.windowClass, WC_EDITW) == 0 ||
                        lstrcmpiW(place.windowClass, WC_LISTBOXW) == 0;
    const DWORD exStyle = sunken ? WS_EX_CLIENTEDGE : 0;
    CreateWindowExW(exStyle, place.windowClass, place.text, WS_CHILD | WS_VISIBLE | place.style,
                    place.x, place.y, place.width, place.height, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.id)), instance, nullptr);
  }
}

void layOutControls(HWND window, UINT dpi, HFONT font) {
  HWND child = GetWindow(window, GW_CHILD);
  for (const ControlPlace& place : kControls) {
    if (child == nullptr) break;
    SetWindowPos(child, nullptr, scaled(place.x, dpi), scaled(place.y, dpi),
                 scaled(place.width, dpi), scaled(place.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    child = GetWindow(child, GW_HWNDNEXT);
  }
}

HFONT createMessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using ForDpi = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  if (const auto forDpi = user32Function<ForDpi>("SystemParametersInfoForDpi");
      forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }
  // Without the per-DPI call the metrics are the system DPI's.
  HDC screen = GetDC(nullptr);
  const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  metrics.lfMessageFont.lfHeight =
      MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

UINT windowDpi(HWND window) {
  using ForWindow = UINT(WINAPI*)(HWND);
  if (const auto forWindow = user32Function<ForWindow>("GetDpiForWindow"); forWindow != nullptr) {
    if (const UINT dpi = forWindow(window); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi);
}

SIZE outerSizeFor(UINT dpi, DWORD style, DWORD exStyle) {
  RECT rect{0, 0, scaled(kClientWidth, dpi), scaled(kClientHeight, dpi)};
  using ForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  if (const auto forDpi = user32Function<ForDpi>("AdjustWindowRectExForDpi"); forDpi != nullptr) {
    forDpi(&rect, style, FALSE, exStyle, dpi);
  } else {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void becomeDpiAware() {
  using ForProcess = BOOL(WINAPI*)(HANDLE);
  if (const auto set = user32Function<ForProcess>("SetProcessDpiAwarenessContext");
      set != nullptr && set(reinterpret_cast<HANDLE>(-4))) {  // per monitor, v2
    return;
  }
  using Aware = BOOL(WINAPI*)();
  if (const auto aware = user32Function<Aware>("SetProcessDPIAware"); aware != nullptr) aware();
}

}  // namespace tavro::settings
