#include "platform/registry.h"

#include <windows.h>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

HKEY hkey(RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegKey registryRoot(RegRoot root) noexcept {
  switch (root) {
    case RegRoot::kClassesRoot:
      return reinterpret_cast<RegKey>(HKEY_CLASSES_ROOT);
    case RegRoot::kCurrentUser:
      return reinterpret_cast<RegKey>(HKEY_CURRENT_USER);
    case RegRoot::kLocalMachine:
      return reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE);
  }
  return 0;
}

int32_t regOpenKey(RegKey parent, const char* subKey, uint32_t access, RegKey* out) noexcept {
  if (injected(Call::RegOpenKeyExA)) return kRegAccessDenied;
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExA(hkey(parent), subKey, 0, access, &opened);
  if (out != nullptr) *out = result == ERROR_SUCCESS ? reinterpret_cast<RegKey>(opened) : 0;
  return result;
}

int32_t regCreateKey(RegKey parent, const char* subKey, RegKey* out) noexcept {
  if (injected(Call::RegCreateKeyA)) return kRegAccessDenied;
  HKEY created = nullptr;
  const LONG result = RegCreateKeyA(hkey(parent), subKey, &created);
  if (out != nullptr) *out = result == ERROR_SUCCESS ? reinterpret_cast<RegKey>(created) : 0;
  return result;
}

int32_t regGetString(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept {
  if (injected(Call::RegGetValueA)) return kRegAccessDenied;
  DWORD bytes = size != nullptr ? *size : 0;
  const LONG result = RegGetValueA(hkey(key), nullptr, value, RRF_RT_REG_SZ, nullptr, buffer,
                                   size != nullptr ? &bytes : nullptr);
  if (size != nullptr) *size = bytes;
  return result;
}

int32_t regQueryValue(RegKey key, const char* value, uint32_t* type, uint8_t* data,
                      uint32_t* size) noexcept {
  if (injected(Call::RegQueryValueExA)) return kRegAccessDenied;
  DWORD valueType = 0;
  DWORD bytes = size != nullptr ? *size : 0;
  const LONG result = RegQueryValueExA(hkey(key), value, nullptr, &valueType, data,
                                       size != nullptr ? &bytes : nullptr);
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = bytes;
  return result;
}

int32_t regSetString(RegKey key, const char* value, const char* data, uint32_t byteCount) noexcept {
  if (injected(Call::RegSetValueExA)) return kRegAccessDenied;
  return RegSetValueExA(hkey(key), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                        byteCount);
}

namespace {

constexpr int32_t kInvalidParameter = ERROR_INVALID_PARAMETER;

// Value names are ASCII; a longer one than this is none of ours.
bool wideName(const char* value, wchar_t (&out)[64]) noexcept {
  if (value == nullptr) return true;
  size_t at = 0;
  for (; value[at] != '\0'; ++at) {
    if (at + 1 >= sizeof out / sizeof out[0]) return false;
    out[at] = static_cast<unsigned char>(value[at]);
  }
  out[at] = L'\0';
  return true;
}

}  // namespace

int32_t regGetUtf8String(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept {
  if (injected(Call::RegGetValueA)) return kRegAccessDenied;
  wchar_t name[64] = {};
  if (!wideName(value, name) || size == nullptr) return kInvalidParameter;
  wchar_t wide[1024];
  DWORD bytes = sizeof wide;
  const LONG result = RegGetValueW(hkey(key), nullptr, value != nullptr ? name : nullptr,
                                   RRF_RT_REG_SZ, nullptr, wide, &bytes);
  if (result != ERROR_SUCCESS) return result;
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return kInvalidParameter;
  if (buffer == nullptr || *size < static_cast<uint32_t>(needed)) {
    *size = static_cast<uint32_t>(needed);
    return buffer == nullptr ? kRegOk : kRegMoreData;
  }
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, needed, nullptr, nullptr);
  *size = static_cast<uint32_t>(needed);
  return kRegOk;
}

int32_t regSetUtf8String(RegKey key, const char* value, const char* text) noexcept {
  if (injected(Call::RegSetValueExA)) return kRegAccessDenied;
  wchar_t name[64] = {};
  if (!wideName(value, name) || text == nullptr) return kInvalidParameter;
  wchar_t wide[1024];
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide,
                                        static_cast<int>(sizeof wide / sizeof wide[0]));
  if (units <= 0) return kInvalidParameter;
  return RegSetValueExW(hkey(key), value != nullptr ? name : nullptr, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(wide),
                        static_cast<DWORD>(units) * sizeof(wchar_t));
}

int32_t regSetDword(RegKey key, const char* value, uint32_t data) noexcept {
  if (injected(Call::RegSetValueExA)) return kRegAccessDenied;
  const DWORD number = data;
  return RegSetValueExA(hkey(key), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof number);
}

int32_t regEnumKey(RegKey key, uint32_t index, char* name, uint32_t size) noexcept {
  if (injected(Call::RegEnumKeyA)) return kRegAccessDenied;
  return RegEnumKeyA(hkey(key), index, name, size);
}

int32_t regDeleteKey(RegKey parent, const char* subKey) noexcept {
  if (injected(Call::RegDeleteKeyA)) return kRegAccessDenied;
  return RegDeleteKeyA(hkey(parent), subKey);
}

int32_t regDeleteValue(RegKey key, const char* value) noexcept {
  if (injected(Call::RegDeleteValueA)) return kRegAccessDenied;
  return RegDeleteValueA(hkey(key), value);
}

void regCloseKey(RegKey key) noexcept {
  if (injected(Call::RegCloseKey)) return;
  const RegKey roots[] = {registryRoot(RegRoot::kClassesRoot), registryRoot(RegRoot::kCurrentUser),
                          registryRoot(RegRoot::kLocalMachine)};
  if (key == 0 || key == roots[0] || key == roots[1] || key == roots[2]) return;
  RegCloseKey(hkey(key));
}

}  // namespace tavro::platform
