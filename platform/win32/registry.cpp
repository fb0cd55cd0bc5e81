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
