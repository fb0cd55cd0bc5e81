#include "sink/os/stored_settings.h"

#include <windows.h>

#include <cstring>

namespace tavro::sink::os {
namespace {

// Longer than any device name a driver registers: a longer value is no
// setting of ours.
constexpr DWORD kMostTextUnits = 512;

std::string toUtf8(const wchar_t* text, int units) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring toWide(const char* text) {
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(units > 0 ? units : 1), L'\0');
  if (units > 0) ::MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), units);
  out.resize(out.size() - 1);
  return out;
}

class RegistrySettings final : public StoredSettings {
 public:
  StoredValue read(const char* name) const override {
    StoredValue value;
    const std::wstring wideName = toWide(name);
    DWORD type = REG_NONE;
    wchar_t buffer[kMostTextUnits + 1] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    // RRF_NOEXPAND keeps REG_EXPAND_SZ a kind of its own rather than failing.
    const LSTATUS status =
        ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\TAVRO7\\Streamer", wideName.c_str(),
                       RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &size);
    if (status == ERROR_FILE_NOT_FOUND) return value;
    value.kind = StoredValue::Kind::kOther;
    if (status != ERROR_SUCCESS) return value;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, buffer, sizeof number);
      value.kind = StoredValue::Kind::kNumber;
      value.number = number;
    } else if (type == REG_SZ) {
      int units = static_cast<int>(size / sizeof(wchar_t));
      while (units > 0 && buffer[units - 1] == L'\0') --units;
      value.kind = StoredValue::Kind::kText;
      value.text = toUtf8(buffer, units);
    }
    return value;
  }
};

}  // namespace

const char kStoredSettingsPlace[] = "HKEY_CURRENT_USER\\Software\\TAVRO7\\Streamer";

std::unique_ptr<StoredSettings> openStoredSettings() {
  return std::make_unique<RegistrySettings>();
}

}  // namespace tavro::sink::os
