#include "com/registry_tree.h"

#include <cstdio>

namespace tavro::com {

using platform::RegKey;

int32_t ensureKey(RegKey root, const char* path, const char* name) noexcept {
  char fullPath[kRegistryPathSize] = {};
  const int length = std::snprintf(fullPath, sizeof fullPath, "%s\\%s", path, name);
  if (length < 0 || static_cast<uint32_t>(length) >= sizeof fullPath) return -1;

  RegKey key = 0;
  if (platform::regOpenKey(root, fullPath, platform::kKeyQueryValue, &key) == platform::kRegOk) {
    platform::regCloseKey(key);
    return 0;
  }
  RegKey parent = 0;
  if (platform::regOpenKey(root, path, platform::kKeyAllAccess, &parent) != platform::kRegOk) {
    return -1;
  }
  const int32_t created = platform::regCreateKey(parent, name, &key);
  platform::regCloseKey(parent);
  if (created != platform::kRegOk) return -1;
  platform::regCloseKey(key);
  return 0;
}

SubtreeNode* collectSubtree(RegKey parent, RegKey key, uint32_t index, const char* name,
                            SubtreeNode* tail) noexcept {
  if (key == 0 &&
      platform::regOpenKey(parent, name, platform::kKeyAllAccess, &key) != platform::kRegOk) {
    return tail;
  }
  // Walking subkey `index` and then the same key again from `index + 1` is
  // this loop; the key itself goes last, after all of its subkeys.
  for (;; ++index) {
    char child[kRegistryPathSize] = {};
    if (platform::regEnumKey(key, index, child, sizeof child) != platform::kRegOk) break;
    tail = collectSubtree(key, 0, 0, child, tail);
  }
  try {
    auto node = std::make_unique<SubtreeNode>();
    node->parent = parent;
    node->key = key;
    node->name = name;
    tail->next = std::move(node);
    return tail->next.get();
  } catch (...) {
    // Left out of the list, the key would never be closed.
    platform::regCloseKey(key);
    return tail;
  }
}

int32_t deleteTree(RegKey root, const char* path, const char* name) noexcept {
  RegKey pathKey = 0;
  if (platform::regOpenKey(root, path, platform::kKeyAllAccess, &pathKey) != platform::kRegOk) {
    return -1;
  }
  SubtreeNode head;
  collectSubtree(pathKey, 0, 0, name, &head);

  // A parent's handle is closed only when its own node comes up, after all of
  // its children have been deleted through it.
  int32_t deleted = 0;
  std::unique_ptr<SubtreeNode> node = std::move(head.next);
  while (node != nullptr) {
    platform::regCloseKey(node->key);
    if (platform::regDeleteKey(node->parent, node->name.c_str()) == platform::kRegOk) ++deleted;
    node = std::move(node->next);
  }
  platform::regCloseKey(pathKey);
  return deleted > 0 ? 0 : -1;
}

}  // namespace tavro::com
