#include "play/streamer_settings_store.h"

#include <cstring>

#include "platform/registry.h"

namespace tavro::play {
namespace {

constexpr char kSettingsKey[] = "Software\\TAVRO7";

bool storeValues(std::initializer_list<std::pair<const char*, std::string>> values,
                 std::string& error) {
  using namespace platform;
  RegKey key = 0;
  if (const int32_t code = regCreateKey(registryRoot(RegRoot::kCurrentUser), kSettingsKey, &key);
      code != kRegOk) {
    error = "cannot create HKEY_CURRENT_USER\\" + std::string(kSettingsKey) + " (error " +
            std::to_string(code) + ")";
    return false;
  }
  bool stored = true;
  for (const auto& [name, text] : values) {
    const int32_t code = regSetString(key, name, text.c_str(), static_cast<uint32_t>(text.size()));
    if (code != kRegOk) {
      error = std::string("cannot write ") + name + " (error " + std::to_string(code) + ")";
      stored = false;
      break;
    }
  }
  regCloseKey(key);
  return stored;
}

}  // namespace

bool storeSinglePc(std::string& error) { return storeValues({{"SinglePCOnly", "1"}}, error); }

bool storeHost(const std::string& address, std::string& error) {
  return storeValues({{"SinglePCOnly", "0"}, {"Host", address}}, error);
}

}  // namespace tavro::play
