#pragma once
// The POSIX registry's storage: one text file per root hive, read whole for
// every operation and replaced whole (temporary file, then rename) under an
// exclusive flock for every change, so concurrent processes always see a
// complete hive and never lose each other's updates.
//
// Directory: $TAVRO_REGISTRY_DIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/tavro/registry.
// Files: HKEY_CLASSES_ROOT.reg, HKEY_CURRENT_USER.reg, HKEY_LOCAL_MACHINE.reg.
// Format, one line each, every name and datum percent-escaped:
//   [Path\To\Key]
//   "Value name"=sz:text        (also "@" alone for the default value)
//   "Value name"=dword:0000002a
//   "Value name"=hex(7):61,62,00
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tavro::platform::posixreg {

struct Value {
  std::string name;  // as first written
  uint32_t type = 0;
  std::string data;  // raw bytes as written
};

struct Node {
  std::string name;                                       // as first created
  std::map<std::string, Value> values;                    // by folded name
  std::map<std::string, std::unique_ptr<Node>> children;  // by folded name
};

// Names compare like Windows key and value names: ASCII letters without case.
std::string fold(std::string_view name);

// A key path as folded components; empty components are dropped.
std::vector<std::string> splitPath(const char* path);

// The node at `path` under `root`, or null.
Node* find(Node& root, const std::vector<std::string>& path);

// The directory holding the hive files, computed from the environment now.
std::string storeDirectory();

// Reads the hive of `root`. A missing file is a fresh hive holding only the
// keys every Windows has (HKCR\CLSID, HKCU\Software, HKLM\SOFTWARE). False
// when the file exists but cannot be read.
bool load(RegRoot root, Node& hive);

// Runs `change` on the current hive under the writers' lock and stores the
// result when `change` returns kRegOk. Returns what `change` returned, or an
// I/O error code when the hive cannot be read or written.
int32_t update(RegRoot root, const std::function<int32_t(Node&)>& change);

inline constexpr int32_t kRegCantRead = 1012;   // ERROR_CANTREAD
inline constexpr int32_t kRegCantWrite = 1013;  // ERROR_CANTWRITE

// Text form of a hive and back; exposed for tests of the format.
std::string serialize(const Node& hive);
void parse(std::string_view text, Node& hive);

}  // namespace tavro::platform::posixreg
