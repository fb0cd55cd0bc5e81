#pragma once
// The three registry routines self-registration is built from. A key with
// subkeys cannot be deleted directly, so a tree is first listed children
// first (post-order) and then deleted from the head of that list.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace tavro::com {

// Path buffers, and the longest key name read back, in bytes.
inline constexpr uint32_t kRegistryPathSize = 360;

// `root\path\name` exists afterwards: opened and closed if it was there,
// otherwise created under `root\path`. 0, or -1 when neither works.
int32_t ensureKey(platform::RegKey root, const char* path, const char* name) noexcept;

// Deletes `root\path\name` with every key below it. 0 when at least one key
// was deleted, -1 otherwise.
int32_t deleteTree(platform::RegKey root, const char* path, const char* name) noexcept;

// One key waiting to be deleted: its parent's handle, its own open handle and
// its own name under that parent.
struct SubtreeNode {
  platform::RegKey parent = 0;
  platform::RegKey key = 0;
  std::string name;
  std::unique_ptr<SubtreeNode> next;
};

// Appends `name` under `parent` and everything below it after `tail`, each key
// after all of its subkeys, and returns the new tail. `key` is the key's open
// handle, or 0 to open it here with full access; `index` is the first subkey
// still to walk. A key that does not open is left out with its subtree.
SubtreeNode* collectSubtree(platform::RegKey parent, platform::RegKey key, uint32_t index,
                            const char* name, SubtreeNode* tail) noexcept;

}  // namespace tavro::com
