#pragma once
// The registry: the real one on Windows; on POSIX a persistent, typed store of
// keys, subkeys and string and number values kept in files (see the POSIX
// backend for where). Results are Windows error codes: 0 is success.
#include <cstdint>

namespace tavro::platform {

using RegKey = uintptr_t;  // an HKEY

enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine };
RegKey registryRoot(RegRoot root) noexcept;

inline constexpr int32_t kRegOk = 0;                  // ERROR_SUCCESS
inline constexpr int32_t kRegNotFound = 2;            // ERROR_FILE_NOT_FOUND
inline constexpr int32_t kRegAccessDenied = 5;        // ERROR_ACCESS_DENIED
inline constexpr int32_t kRegMoreData = 234;          // ERROR_MORE_DATA
inline constexpr int32_t kRegNoMoreItems = 259;       // ERROR_NO_MORE_ITEMS
inline constexpr int32_t kRegUnsupportedType = 1630;  // ERROR_UNSUPPORTED_TYPE

inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegDword = 4;

// RegOpenKeyExA(parent, subKey, 0, access, out).
int32_t regOpenKey(RegKey parent, const char* subKey, uint32_t access, RegKey* out) noexcept;
// RegCreateKeyA(parent, subKey, out): opens or creates.
int32_t regCreateKey(RegKey parent, const char* subKey, RegKey* out) noexcept;
// RegGetValueA(key, no subkey, value, RRF_RT_REG_SZ, ...): a string value only;
// *size is the buffer's size in, the bytes stored (with NUL) out.
int32_t regGetString(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept;
// RegQueryValueExA: a null `data` asks for the size only.
int32_t regQueryValue(RegKey key, const char* value, uint32_t* type, uint8_t* data,
                      uint32_t* size) noexcept;
// RegSetValueExA(key, value, 0, REG_SZ, data, byteCount).
int32_t regSetString(RegKey key, const char* value, const char* data, uint32_t byteCount) noexcept;
// The same for a text in UTF-8, whatever the system's code page: a device's
// name may hold characters the code page has not (RegGetValueW and
// RegSetValueExW on Windows). `text` ends with its NUL; *size as above.
int32_t regGetUtf8String(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept;
int32_t regSetUtf8String(RegKey key, const char* value, const char* text) noexcept;
// RegSetValueExA(key, value, 0, REG_DWORD, ...). Used by tools and tests.
int32_t regSetDword(RegKey key, const char* value, uint32_t data) noexcept;
// RegEnumKeyA: the name of the index-th subkey.
int32_t regEnumKey(RegKey key, uint32_t index, char* name, uint32_t size) noexcept;
// RegDeleteKeyA: deletes a subkey that has no subkeys of its own.
int32_t regDeleteKey(RegKey parent, const char* subKey) noexcept;
// RegDeleteValueA: removes one value of an open key.
int32_t regDeleteValue(RegKey key, const char* value) noexcept;
// RegCloseKey. Roots and zero are ignored.
void regCloseKey(RegKey key) noexcept;

}  // namespace tavro::platform
