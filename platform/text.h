#pragma once
// Text conversions the COM registration needs: lower-casing 8-bit text, the
// registry form of a class identifier, and wide text to the ANSI code page.
#include <cstdint>

namespace tavro::platform {

// CharLowerA on a NUL-terminated text, in place. The POSIX backend folds ASCII
// letters only; other bytes stay as they are.
void lowerCaseInPlace(char* text) noexcept;

// StringFromCLSID: `clsid` (16 bytes laid out as a GUID) as
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex, NUL-terminated
// UTF-16 the caller releases with freeClassIdText. Returns 0 (S_OK) or an
// HRESULT failure, with *text null.
int32_t classIdToText(const void* clsid, char16_t** text) noexcept;

// CoTaskMemFree for the text from classIdToText. Null is ignored.
void freeClassIdText(char16_t* text) noexcept;

// WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, null, null): bytes
// written with the NUL, or 0 when the text (with its NUL) does not fit or
// cannot be converted. The POSIX backend writes '?' for every unit above 0x7F.
int32_t wideToAnsi(const char16_t* text, char* out, int32_t size) noexcept;

}  // namespace tavro::platform
