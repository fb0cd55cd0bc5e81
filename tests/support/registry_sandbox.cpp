#include "support/registry_sandbox.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "support/temp_dir.h"

namespace tavro::testing {
namespace {

using platform::RegKey;

constexpr const char* kStoreVariable = "TAVRO_REGISTRY_DIR";

RegKey currentUser() { return platform::registryRoot(platform::RegRoot::kCurrentUser); }

std::string uniqueName() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(stamp) + "-" + std::to_string(counter++);
}

}  // namespace

RegistrySandbox::RegistrySandbox() : basePath_("Software\\TAVRO-tests\\" + uniqueName()) {
#if !defined(_WIN32)
  if (const char* previous = std::getenv(kStoreVariable)) previousDir_ = previous;
  dir_ = std::make_unique<TempDir>();
  setEnv(kStoreVariable, dir_->path().string());
#endif
  RegKey key = 0;
  if (platform::regCreateKey(currentUser(), basePath_.c_str(), &key) == platform::kRegOk) {
    platform::regCloseKey(key);
  }
}

RegistrySandbox::~RegistrySandbox() {
  deleteRegistryTree(currentUser(), basePath_);
  // Goes only once no other sandbox is using it.
  platform::regDeleteKey(currentUser(), "Software\\TAVRO-tests");
#if !defined(_WIN32)
  if (previousDir_) {
    setEnv(kStoreVariable, *previousDir_);
  } else {
    unsetEnv(kStoreVariable);
  }
#endif
}

std::string RegistrySandbox::storeDirectory() const {
  return dir_ ? dir_->path().string() : std::string();
}

bool deleteRegistryTree(RegKey root, const std::string& path) {
  RegKey key = 0;
  if (platform::regOpenKey(root, path.c_str(), platform::kKeyAllAccess, &key) != platform::kRegOk) {
    return !registryKeyExists(root, path);
  }
  std::vector<std::string> children;
  char name[256];
  while (platform::regEnumKey(key, static_cast<uint32_t>(children.size()), name, sizeof name) ==
         platform::kRegOk) {
    children.emplace_back(name);
  }
  platform::regCloseKey(key);
  for (const std::string& child : children) deleteRegistryTree(root, path + "\\" + child);
  return platform::regDeleteKey(root, path.c_str()) == platform::kRegOk;
}

std::optional<std::string> readRegistryString(RegKey root, const std::string& path,
                                              const char* name) {
  RegKey key = 0;
  if (platform::regOpenKey(root, path.c_str(), platform::kKeyQueryValue, &key) !=
      platform::kRegOk) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  uint32_t size = 0;
  if (platform::regGetString(key, name, nullptr, &size) == platform::kRegOk && size > 0) {
    std::string buffer(size, '\0');
    if (platform::regGetString(key, name, buffer.data(), &size) == platform::kRegOk) {
      buffer.resize(size > 0 ? size - 1 : 0);
      text = buffer;
    }
  }
  platform::regCloseKey(key);
  return text;
}

bool writeRegistryString(RegKey root, const std::string& path, const char* name,
                         const std::string& data) {
  RegKey key = 0;
  if (platform::regCreateKey(root, path.c_str(), &key) != platform::kRegOk) return false;
  const bool ok = platform::regSetString(key, name, data.c_str(),
                                         static_cast<uint32_t>(data.size())) == platform::kRegOk;
  platform::regCloseKey(key);
  return ok;
}

bool registryKeyExists(RegKey root, const std::string& path) {
  RegKey key = 0;
  if (platform::regOpenKey(root, path.c_str(), platform::kKeyQueryValue, &key) !=
      platform::kRegOk) {
    return false;
  }
  platform::regCloseKey(key);
  return true;
}

}  // namespace tavro::testing
