#pragma once
// Where each control of the settings window sits, as one table in 96-dpi
// pixels, and the system's message font at the window's DPI. The table's
// order is the tab order.
#include <windows.h>

namespace tavro::settings {

inline constexpr int kClientWidth = 460;
inline constexpr int kClientHeight = 590;

// Creates every control of the table as a child of `window`.
void createControls(HWND window);

// Places every control for `dpi` and gives it `font`.
void layOutControls(HWND window, UINT dpi, HFONT font);

// The message font (SPI_GETNONCLIENTMETRICS) at `dpi`; the caller deletes it.
HFONT createMessageFont(UINT dpi);

// The window's DPI, and the outer size that holds the client area at it.
UINT windowDpi(HWND window);
SIZE outerSizeFor(UINT dpi, DWORD style, DWORD exStyle);

// Opts the process into per-monitor DPI awareness (v2 where there is one).
void becomeDpiAware();

}  // namespace tavro::settings
