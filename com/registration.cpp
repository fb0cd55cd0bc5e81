#include "com/registration.h"

#include <cstdio>
#include <cstring>

#include "com/registry_tree.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace tavro::com {
namespace {

using platform::RegKey;

constexpr uint32_t kClassIdTextSize = 100;

struct Identity {
  char dllPath[kRegistryPathSize] = {};  // lower-cased
  char clsidText[kClassIdTextSize] = {};
};

RegKey classesRoot() { return platform::registryRoot(platform::RegRoot::kClassesRoot); }
RegKey localMachine() { return platform::registryRoot(platform::RegRoot::kLocalMachine); }

// A path that does not fit is not cut short: the caller skips that step.
template <typename... Parts>
bool formatPath(char (&out)[kRegistryPathSize], const char* format, Parts... parts) {
  const int length = std::snprintf(out, sizeof out, format, parts...);
  return length >= 0 && static_cast<uint32_t>(length) < sizeof out;
}

int32_t identify(const Guid& clsid, const char* dllFileName, Identity& id) {
  const platform::ModuleHandle module = platform::moduleHandleByName(dllFileName);
  if (module == nullptr) return kModuleNotFound;
  // A path that filled the whole buffer may have been cut; registering a cut
  // path would point COM at a file that does not exist.
  const uint32_t length = platform::moduleFileName(module, id.dllPath, sizeof id.dllPath);
  if (length == 0 || length >= sizeof id.dllPath) return kModulePathUnreadable;
  platform::lowerCaseInPlace(id.dllPath);

  char16_t* wide = nullptr;
  if (platform::classIdToText(&clsid, &wide) != 0 || wide == nullptr) return kClassIdNotText;
  const int32_t converted = platform::wideToAnsi(wide, id.clsidText, sizeof id.clsidText);
  platform::freeClassIdText(wide);
  return converted == 0 ? kClassIdNotAnsi : kRegistrationOk;
}

bool keyExists(RegKey root, const char* path) {
  RegKey key = 0;
  if (platform::regOpenKey(root, path, platform::kKeyQueryValue, &key) != platform::kRegOk) {
    return false;
  }
  platform::regCloseKey(key);
  return true;
}

void setString(RegKey key, const char* name, const char* text) {
  platform::regSetString(key, name, text, static_cast<uint32_t>(std::strlen(text)));
}

// Writes string values into `root\path`; nothing when the key does not open.
template <typename... NamesAndTexts>
void setValues(RegKey root, const char* path, NamesAndTexts... namesAndTexts) {
  RegKey key = 0;
  if (platform::regOpenKey(root, path, platform::kKeySetValue, &key) != platform::kRegOk) return;
  const char* items[] = {namesAndTexts...};
  for (size_t i = 0; i + 1 < std::size(items); i += 2) setString(key, items[i], items[i + 1]);
  platform::regCloseKey(key);
}

// True only when the stored server path can be read whole and, lower-cased,
// equals `dllPath`.
bool storedServerIs(const char* serverPath, const char* dllPath) {
  RegKey key = 0;
  if (platform::regOpenKey(classesRoot(), serverPath, platform::kKeyQueryValue, &key) !=
      platform::kRegOk) {
    return false;
  }
  char stored[kRegistryPathSize] = {};
  uint32_t size = 0;
  bool same = false;
  if (platform::regQueryValue(key, nullptr, nullptr, nullptr, &size) == platform::kRegOk &&
      size <= sizeof stored &&
      platform::regQueryValue(key, nullptr, nullptr, reinterpret_cast<uint8_t*>(stored), &size) ==
          platform::kRegOk) {
    // The stored bytes need not end with a NUL; one that fills the buffer
    // without one is not a path we can compare.
    if (size < sizeof stored || stored[sizeof stored - 1] == '\0') {
      platform::lowerCaseInPlace(stored);
      same = std::strcmp(stored, dllPath) == 0;
    }
  }
  platform::regCloseKey(key);
  return same;
}

void registerClass(const Identity& id, const char* description, const char* threadingModel) {
  char classPath[kRegistryPathSize];
  char serverPath[kRegistryPathSize];
  if (!formatPath(classPath, "%s\\%s", "CLSID", id.clsidText) ||
      !formatPath(serverPath, "%s\\%s\\%s", "CLSID", id.clsidText, "InprocServer32")) {
    return;
  }
  if (keyExists(classesRoot(), classPath)) {
    if (storedServerIs(serverPath, id.dllPath)) return;
    deleteTree(classesRoot(), "CLSID", id.clsidText);
  }
  ensureKey(classesRoot(), "CLSID", id.clsidText);
  setValues(classesRoot(), classPath, static_cast<const char*>(nullptr), description);
  ensureKey(classesRoot(), classPath, "InprocServer32");
  setValues(classesRoot(), serverPath, static_cast<const char*>(nullptr), id.dllPath,
            "ThreadingModel", threadingModel);
}

void registerDriver(const Identity& id, const char* driverKeyName, const char* description) {
  char asioPath[kRegistryPathSize];
  char driverPath[kRegistryPathSize];
  if (!formatPath(asioPath, "%s\\%s", "SOFTWARE", "ASIO") ||
      !formatPath(driverPath, "%s\\%s\\%s", "SOFTWARE", "ASIO", driverKeyName)) {
    return;
  }
  if (!keyExists(localMachine(), asioPath)) {
    ensureKey(localMachine(), "SOFTWARE", "ASIO");
  } else if (keyExists(localMachine(), driverPath)) {
    deleteTree(localMachine(), asioPath, driverKeyName);
  }
  ensureKey(localMachine(), asioPath, driverKeyName);
  setValues(localMachine(), driverPath, "CLSID", id.clsidText, "Description", description);
}

}  // namespace

int32_t registerServer(const Guid& clsid, const char* dllFileName, const char* driverKeyName,
                       const char* description, const char* threadingModel) noexcept {
  Identity id;
  if (const int32_t result = identify(clsid, dllFileName, id); result != kRegistrationOk) {
    return result;
  }
  registerClass(id, description, threadingModel);
  registerDriver(id, driverKeyName, description);
  return kRegistrationOk;
}

int32_t unregisterServer(const Guid& clsid, const char* dllFileName,
                         const char* driverKeyName) noexcept {
  Identity id;
  if (const int32_t result = identify(clsid, dllFileName, id); result != kRegistrationOk) {
    return result;
  }
  char classPath[kRegistryPathSize];
  if (formatPath(classPath, "%s\\%s", "CLSID", id.clsidText) &&
      keyExists(classesRoot(), classPath)) {
    deleteTree(classesRoot(), "CLSID", id.clsidText);
  }
  char asioPath[kRegistryPathSize];
  char driverPath[kRegistryPathSize];
  if (!formatPath(asioPath, "%s\\%s", "SOFTWARE", "ASIO") || !keyExists(localMachine(), asioPath)) {
    return kRegistrationOk;
  }
  if (formatPath(driverPath, "%s\\%s\\%s", "SOFTWARE", "ASIO", driverKeyName) &&
      keyExists(localMachine(), driverPath)) {
    deleteTree(localMachine(), asioPath, driverKeyName);
  }
  return kRegistrationOk;
}

}  // namespace tavro::com
