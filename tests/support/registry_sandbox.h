#pragma once
// A registry of a test's own, so cases neither see nor leave each other's keys.
//
// POSIX: the whole store moves to a fresh directory ($TAVRO_REGISTRY_DIR) for
// the sandbox's lifetime, so a test may use any key, even "Software\TAVRO7".
// Windows: the registry is the real one (Wine's prefix); tests keep to
// `basePath()`, a key of their own under HKEY_CURRENT_USER\Software\TAVRO-tests,
// which the sandbox deletes with everything below it.
#include <memory>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace tavro::testing {

class TempDir;

class RegistrySandbox {
 public:
  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // "Software\TAVRO-tests\<unique>" under HKEY_CURRENT_USER, already created.
  const std::string& basePath() const { return basePath_; }
  // The store's directory (POSIX), empty on Windows.
  std::string storeDirectory() const;

 private:
  std::unique_ptr<TempDir> dir_;
  std::optional<std::string> previousDir_;
  std::string basePath_;
};

// Deletes `path` under `root` with all its subkeys; true when it is gone.
bool deleteRegistryTree(platform::RegKey root, const std::string& path);

// The string value `name` of `root\path`, or nullopt when it cannot be read.
std::optional<std::string> readRegistryString(platform::RegKey root, const std::string& path,
                                              const char* name);

// Creates `root\path` and sets its string value `name` (byte count without NUL).
bool writeRegistryString(platform::RegKey root, const std::string& path, const char* name,
                         const std::string& data);

bool registryKeyExists(platform::RegKey root, const std::string& path);

}  // namespace tavro::testing
