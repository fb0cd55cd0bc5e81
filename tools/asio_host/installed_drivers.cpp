#include "asio_host/installed_drivers.h"

#if defined(_WIN32)
#include <objbase.h>
#include <windows.h>
#endif

#include <cstdio>

namespace tavro::asio_host {

#if defined(_WIN32)
namespace {

std::string hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

std::string stringValue(HKEY key, const char* name) {
  char data[256] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return data;
}

}  // namespace

bool installedDrivers(std::vector<InstalledDriver>& out, std::string& error) {
  out.clear();
  HKEY asio = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", 0, KEY_READ, &asio);
  if (opened == ERROR_FILE_NOT_FOUND) return true;  // no driver was ever installed
  if (opened != ERROR_SUCCESS) {
    error = "cannot open HKLM\\SOFTWARE\\ASIO (error " + std::to_string(opened) + ")";
    return false;
  }
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD length = sizeof name;
    const LONG listed =
        RegEnumKeyExA(asio, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (listed == ERROR_NO_MORE_ITEMS) break;
    if (listed != ERROR_SUCCESS) continue;
    HKEY entry = nullptr;
    if (RegOpenKeyExA(asio, name, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
    InstalledDriver driver{name, stringValue(entry, "CLSID"), stringValue(entry, "Description")};
    // Hosts show the key's name where a driver gives no description.
    if (driver.description.empty()) driver.description = driver.name;
    RegCloseKey(entry);
    out.push_back(std::move(driver));
  }
  RegCloseKey(asio);
  return true;
}

ComDriver::ComDriver(const InstalledDriver& entry) {
  const HRESULT started = CoInitialize(nullptr);
  initialized_ = SUCCEEDED(started);
  if (!initialized_) {
    error_ = "CoInitialize failed: " + hex(started);
    return;
  }
  std::wstring text(entry.clsid.begin(), entry.clsid.end());
  CLSID clsid{};
  if (entry.clsid.empty() || FAILED(CLSIDFromString(text.c_str(), &clsid))) {
    error_ = "\"" + entry.name + "\" has no valid CLSID: '" + entry.clsid + "'";
    return;
  }
  void* object = nullptr;
  const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object);
  if (FAILED(created) || object == nullptr) {
    error_ = "CoCreateInstance failed: " + hex(created);
    return;
  }
  driver_ = static_cast<asio::IAsio*>(object);
}

ComDriver::~ComDriver() {
  if (initialized_) CoUninitialize();
}

#else

bool installedDrivers(std::vector<InstalledDriver>& out, std::string& error) {
  out.clear();
  error = "installed ASIO drivers are listed on Windows only";
  return false;
}

ComDriver::ComDriver(const InstalledDriver&) {
  error_ = "drivers are created through COM on Windows only";
}

ComDriver::~ComDriver() = default;

#endif

}  // namespace tavro::asio_host
