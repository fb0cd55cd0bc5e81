#include "platform/text.h"

#include <objbase.h>
#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

void lowerCaseInPlace(char* text) noexcept {
  if (injected(Call::CharLowerA) || text == nullptr) return;
  CharLowerA(text);
}

int32_t classIdToText(const void* clsid, char16_t** text) noexcept {
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  if (injected(Call::StringFromCLSID)) return E_OUTOFMEMORY;
  LPOLESTR wide = nullptr;
  const HRESULT result = StringFromCLSID(*static_cast<const CLSID*>(clsid), &wide);
  if (SUCCEEDED(result)) *text = reinterpret_cast<char16_t*>(wide);
  return result;
}

void freeClassIdText(char16_t* text) noexcept { CoTaskMemFree(text); }

int32_t wideToAnsi(const char16_t* text, char* out, int32_t size) noexcept {
  if (injected(Call::WideCharToMultiByte)) return 0;
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text), -1, out, size,
                             nullptr, nullptr);
}

}  // namespace tavro::platform
