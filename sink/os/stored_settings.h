#pragma once
// The settings a user keeps for the streamer on this system, as the system
// stores them. On Windows they are HKCU\Software\TAVRO7\Streamer, where TAVRO
// Settings writes them; Linux keeps none (the command line and the service's
// unit file say everything).
#include <cstdint>
#include <memory>
#include <string>

namespace tavro::sink::os {

// One stored value, with the kind the system gives it: what the value means
// is for the caller to judge.
struct StoredValue {
  enum class Kind : uint8_t { kAbsent, kNumber, kText, kOther };
  Kind kind = Kind::kAbsent;
  uint32_t number = 0;
  std::string text;  // UTF-8
};

class StoredSettings {
 public:
  virtual ~StoredSettings() = default;
  // Read anew at each call, so a change made meanwhile is seen.
  virtual StoredValue read(const char* name) const = 0;
};

// Null where the system keeps no settings for the streamer.
std::unique_ptr<StoredSettings> openStoredSettings();

// Where the store is, for the messages that name it.
extern const char kStoredSettingsPlace[];

}  // namespace tavro::sink::os
