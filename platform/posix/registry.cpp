#include "platform/registry.h"

#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/posix/registry_store.h"

namespace tavro::platform {
namespace {

using posixreg::Node;

constexpr int32_t kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr int32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr int32_t kOutOfMemory = 14;       // ERROR_OUTOFMEMORY
constexpr int32_t kKeyDeleted = 1018;      // ERROR_KEY_DELETED

constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;

// The three roots keep the values Windows gives them in a 32-bit process.
constexpr RegKey kClassesRootHandle = 0x80000000u;
constexpr RegKey kCurrentUserHandle = 0x80000001u;
constexpr RegKey kLocalMachineHandle = 0x80000002u;

// What a handle stands for: a key path, not a key object, so a handle to a key
// that is deleted and created again sees the new key (Windows would report it
// deleted). Nothing here relies on the difference.
struct OpenKey {
  RegRoot root = RegRoot::kCurrentUser;
  std::vector<std::string> path;  // folded
  uint32_t access = 0;
};

std::mutex handlesLock;
std::map<RegKey, OpenKey> handles;
RegKey nextHandle = 0x1000;

bool isRoot(RegKey key, RegRoot* root) {
  switch (key) {
    case kClassesRootHandle:
      *root = RegRoot::kClassesRoot;
      return true;
    case kCurrentUserHandle:
      *root = RegRoot::kCurrentUser;
      return true;
    case kLocalMachineHandle:
      *root = RegRoot::kLocalMachine;
      return true;
    default:
      return false;
  }
}

bool resolve(RegKey key, OpenKey& out) {
  RegRoot root;
  if (isRoot(key, &root)) {
    out = OpenKey{root, {}, kKeyAllAccess};
    return true;
  }
  std::lock_guard lock(handlesLock);
  const auto it = handles.find(key);
  if (it == handles.end()) return false;
  out = it->second;
  return true;
}

RegKey newHandle(OpenKey key) {
  std::lock_guard lock(handlesLock);
  const RegKey handle = nextHandle;
  nextHandle += 4;  // like kernel handles: never zero, never a root
  handles.emplace(handle, std::move(key));
  return handle;
}

std::vector<std::string> joined(const OpenKey& key, const char* subKey) {
  std::vector<std::string> path = key.path;
  for (std::string& part : posixreg::splitPath(subKey)) path.push_back(std::move(part));
  return path;
}

// Loads the hive and finds the key a handle stands for.
int32_t loadKey(RegKey handle, uint32_t neededAccess, OpenKey& key, Node& hive, Node** node) {
  if (!resolve(handle, key)) return kInvalidHandle;
  if ((key.access & neededAccess) != neededAccess) return kRegAccessDenied;
  if (!posixreg::load(key.root, hive)) return posixreg::kRegCantRead;
  *node = posixreg::find(hive, key.path);
  return *node == nullptr ? kKeyDeleted : kRegOk;
}

int32_t setValue(RegKey handle, const char* name, uint32_t type, std::string data) {
  OpenKey key;
  if (!resolve(handle, key)) return kInvalidHandle;
  if ((key.access & kKeySetValue) == 0) return kRegAccessDenied;
  const std::string valueName = name != nullptr ? name : "";
  return posixreg::update(key.root, [&](Node& hive) {
    Node* node = posixreg::find(hive, key.path);
    if (node == nullptr) return kKeyDeleted;
    // A value keeps the spelling of its name from when it was first written.
    const auto [slot, added] = node->values.try_emplace(posixreg::fold(valueName));
    posixreg::Value& value = slot->second;
    if (added) value.name = valueName;
    value.type = type;
    value.data = std::move(data);
    return kRegOk;
  });
}

}  // namespace

RegKey registryRoot(RegRoot root) noexcept {
  switch (root) {
    case RegRoot::kClassesRoot:
      return kClassesRootHandle;
    case RegRoot::kCurrentUser:
      return kCurrentUserHandle;
    case RegRoot::kLocalMachine:
      return kLocalMachineHandle;
  }
  return 0;
}

int32_t regOpenKey(RegKey parent, const char* subKey, uint32_t access, RegKey* out) noexcept {
  if (injected(Call::RegOpenKeyExA)) return kRegAccessDenied;
  if (out == nullptr) return kInvalidParameter;
  *out = 0;
  try {
    OpenKey key;
    Node hive;
    Node* node = nullptr;
    if (const int32_t result = loadKey(parent, 0, key, hive, &node); result != kRegOk) {
      return result;
    }
    key.path = joined(key, subKey);
    if (posixreg::find(hive, key.path) == nullptr) return kRegNotFound;
    key.access = access;
    *out = newHandle(std::move(key));
    return kRegOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regCreateKey(RegKey parent, const char* subKey, RegKey* out) noexcept {
  if (injected(Call::RegCreateKeyA)) return kRegAccessDenied;
  if (out == nullptr) return kInvalidParameter;
  *out = 0;
  try {
    OpenKey key;
    if (!resolve(parent, key)) return kInvalidHandle;
    const std::vector<std::string> path = joined(key, subKey);
    const std::vector<std::string> names = [&] {
      std::vector<std::string> original;
      std::string_view rest = subKey != nullptr ? subKey : "";
      while (!rest.empty()) {
        const size_t slash = rest.find('\\');
        if (slash != 0) original.emplace_back(rest.substr(0, slash));
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
      }
      return original;
    }();
    Node hive;
    if (!posixreg::load(key.root, hive)) return posixreg::kRegCantRead;
    if (posixreg::find(hive, path) == nullptr) {
      if ((key.access & kKeyCreateSubKey) == 0) return kRegAccessDenied;
      const int32_t result = posixreg::update(key.root, [&](Node& current) {
        Node* node = posixreg::find(current, key.path);
        if (node == nullptr) return kKeyDeleted;
        for (const std::string& name : names) {
          auto& slot = node->children[posixreg::fold(name)];
          if (!slot) {
            slot = std::make_unique<Node>();
            slot->name = name;
          }
          node = slot.get();
        }
        return kRegOk;
      });
      if (result != kRegOk) return result;
    }
    *out = newHandle(OpenKey{key.root, path, kKeyAllAccess});
    return kRegOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regGetString(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept {
  if (injected(Call::RegGetValueA)) return kRegAccessDenied;
  try {
    OpenKey open;
    Node hive;
    Node* node = nullptr;
    if (const int32_t result = loadKey(key, kKeyQueryValue, open, hive, &node); result != kRegOk) {
      return result;
    }
    const auto it = node->values.find(posixreg::fold(value != nullptr ? value : ""));
    if (it == node->values.end()) return kRegNotFound;
    if (it->second.type != kRegSz) return kRegUnsupportedType;
    // Like RegGetValueA, the text handed out always ends with a NUL, whether
    // or not the stored bytes did.
    const std::string& data = it->second.data;
    const bool terminated = !data.empty() && data.back() == '\0';
    const auto needed = static_cast<uint32_t>(data.size() + (terminated ? 0 : 1));
    if (size == nullptr) return buffer == nullptr ? kRegOk : kInvalidParameter;
    if (buffer == nullptr) {
      *size = needed;
      return kRegOk;
    }
    if (*size < needed) {
      *size = needed;
      return kRegMoreData;
    }
    std::memcpy(buffer, data.data(), data.size());
    if (!terminated) buffer[data.size()] = '\0';
    *size = needed;
    return kRegOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regQueryValue(RegKey key, const char* value, uint32_t* type, uint8_t* data,
                      uint32_t* size) noexcept {
  if (injected(Call::RegQueryValueExA)) return kRegAccessDenied;
  try {
    if (data != nullptr && size == nullptr) return kInvalidParameter;
    OpenKey open;
    Node hive;
    Node* node = nullptr;
    if (const int32_t result = loadKey(key, kKeyQueryValue, open, hive, &node); result != kRegOk) {
      return result;
    }
    const auto it = node->values.find(posixreg::fold(value != nullptr ? value : ""));
    if (it == node->values.end()) return kRegNotFound;
    const std::string& stored = it->second.data;
    if (type != nullptr) *type = it->second.type;
    if (size == nullptr) return kRegOk;
    const auto needed = static_cast<uint32_t>(stored.size());
    if (data != nullptr && *size < needed) {
      *size = needed;
      return kRegMoreData;
    }
    // Raw value bytes, as RegQueryValueEx returns them: a text brings its own NUL.
    if (data != nullptr) {
      // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
      std::memcpy(data, stored.data(), stored.size());
    }
    *size = needed;
    return kRegOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regSetString(RegKey key, const char* value, const char* data, uint32_t byteCount) noexcept {
  if (injected(Call::RegSetValueExA)) return kRegAccessDenied;
  if (data == nullptr && byteCount != 0) return kInvalidParameter;
  try {
    return setValue(key, value, kRegSz, std::string(data != nullptr ? data : "", byteCount));
  } catch (...) {
    return kOutOfMemory;
  }
}

// The store keeps bytes as given: UTF-8 goes in and out unchanged.
int32_t regGetUtf8String(RegKey key, const char* value, char* buffer, uint32_t* size) noexcept {
  return regGetString(key, value, buffer, size);
}

int32_t regSetUtf8String(RegKey key, const char* value, const char* text) noexcept {
  if (text == nullptr) return kInvalidParameter;
  return regSetString(key, value, text, static_cast<uint32_t>(std::strlen(text) + 1));
}

int32_t regSetDword(RegKey key, const char* value, uint32_t data) noexcept {
  if (injected(Call::RegSetValueExA)) return kRegAccessDenied;
  try {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((data >> (8 * i)) & 0xff);
    return setValue(key, value, kRegDword, std::move(bytes));
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regEnumKey(RegKey key, uint32_t index, char* name, uint32_t size) noexcept {
  if (injected(Call::RegEnumKeyA)) return kRegAccessDenied;
  try {
    OpenKey open;
    Node hive;
    Node* node = nullptr;
    if (const int32_t result = loadKey(key, kKeyEnumerateSubKeys, open, hive, &node);
        result != kRegOk) {
      return result;
    }
    if (index >= node->children.size()) return kRegNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::string& childName = it->second->name;
    if (name == nullptr || childName.size() + 1 > size) return kRegMoreData;
    std::memcpy(name, childName.c_str(), childName.size() + 1);
    return kRegOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regDeleteValue(RegKey handle, const char* value) noexcept {
  if (injected(Call::RegDeleteValueA)) return kRegAccessDenied;
  try {
    OpenKey key;
    if (!resolve(handle, key)) return kInvalidHandle;
    if ((key.access & kKeySetValue) == 0) return kRegAccessDenied;
    const std::string folded = posixreg::fold(value != nullptr ? value : "");
    return posixreg::update(key.root, [&](Node& hive) {
      Node* node = posixreg::find(hive, key.path);
      if (node == nullptr) return kKeyDeleted;
      return node->values.erase(folded) == 1 ? kRegOk : kRegNotFound;
    });
  } catch (...) {
    return kOutOfMemory;
  }
}

int32_t regDeleteKey(RegKey parent, const char* subKey) noexcept {
  if (injected(Call::RegDeleteKeyA)) return kRegAccessDenied;
  try {
    OpenKey key;
    if (!resolve(parent, key)) return kInvalidHandle;
    const std::vector<std::string> relative = posixreg::splitPath(subKey);
    if (relative.empty()) return kInvalidParameter;
    std::vector<std::string> parentPath = joined(key, subKey);
    const std::string name = parentPath.back();
    parentPath.pop_back();
    return posixreg::update(key.root, [&](Node& hive) {
      if (posixreg::find(hive, key.path) == nullptr) return kKeyDeleted;
      Node* owner = posixreg::find(hive, parentPath);
      if (owner == nullptr) return kRegNotFound;
      const auto it = owner->children.find(name);
      if (it == owner->children.end()) return kRegNotFound;
      // Windows refuses to delete a key that still has subkeys.
      if (!it->second->children.empty()) return kRegAccessDenied;
      owner->children.erase(it);
      return kRegOk;
    });
  } catch (...) {
    return kOutOfMemory;
  }
}

void regCloseKey(RegKey key) noexcept {
  if (injected(Call::RegCloseKey)) return;
  RegRoot root;
  if (key == 0 || isRoot(key, &root)) return;
  std::lock_guard lock(handlesLock);
  handles.erase(key);
}

}  // namespace tavro::platform
