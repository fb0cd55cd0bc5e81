#include "settings/panel_store.h"

#include <cstring>
#include <new>

#include "control/streamer_host.h"
#include "platform/registry.h"

namespace tavro::settings {
namespace {

using platform::RegKey;

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != 0) platform::regCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  RegKey* out() noexcept { return &key_; }
  RegKey get() const noexcept { return key_; }
  bool open() const noexcept { return key_ != 0; }

 private:
  RegKey key_ = 0;
};

RegKey currentUser() noexcept { return platform::registryRoot(platform::RegRoot::kCurrentUser); }

bool openForReading(const char* path, Key& key) noexcept {
  return platform::regOpenKey(currentUser(), path, platform::kKeyQueryValue, key.out()) ==
         platform::kRegOk;
}

bool readText(const Key& key, const char* name, std::string& out) {
  char buffer[control::kValueBufferSize] = {};
  uint32_t size = sizeof buffer - 1;
  if (!key.open() || platform::regGetString(key.get(), name, buffer, &size) != platform::kRegOk) {
    return false;
  }
  out = buffer;
  return true;
}

void readNumber(const Key& key, const char* name, uint32_t& out) noexcept {
  uint32_t type = 0;
  uint8_t bytes[4] = {};
  uint32_t size = sizeof bytes;
  if (!key.open() ||
      platform::regQueryValue(key.get(), name, &type, bytes, &size) != platform::kRegOk ||
      type != platform::kRegDword || size != sizeof bytes) {
    return;
  }
  out = static_cast<uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
        static_cast<uint32_t>(bytes[3]) << 24;
}

// A device's name as UTF-8, whatever the system's code page.
bool readUtf8(const Key& key, const char* name, std::string& out) {
  char buffer[control::kValueBufferSize * 4] = {};
  uint32_t size = sizeof buffer - 1;
  if (!key.open() ||
      platform::regGetUtf8String(key.get(), name, buffer, &size) != platform::kRegOk) {
    return false;
  }
  out = buffer;
  return true;
}

bool writeText(RegKey key, const char* name, const std::string& text) noexcept {
  return platform::regSetString(key, name, text.c_str(), static_cast<uint32_t>(text.size() + 1)) ==
         platform::kRegOk;
}

}  // namespace

PanelValues loadPanelValues() noexcept {
  PanelValues values;
  try {
    Key driver;
    openForReading(control::kSettingsKey, driver);
    std::string text;
    // The driver's own rule: anything but a "1" it recognises means another computer,
    // so a fresh PC shows the choice the driver would make of an empty key.
    if (readText(driver, control::kSinglePcValue, text)) {
      values.singlePc = control::selectsSinglePc(text.c_str());
    }
    readText(driver, control::kHostValue, values.host);

    Key streamer;
    openForReading(kStreamerKey, streamer);
    LocalStreamerValues& local = values.local;
    readUtf8(streamer, "Device", local.device);
    readNumber(streamer, "Transport", local.transport);
    readNumber(streamer, "WordLength", local.wordLength);
    readNumber(streamer, "BufferIndex", local.bufferIndex);
    readNumber(streamer, "BufferPackets", local.bufferPackets);
    readText(streamer, "DsdMode", local.dsdMode);

    Key run;
    openForReading(kRunKey, run);
    values.startAtLogon = readText(run, kRunValue, text) && !text.empty();
  } catch (const std::bad_alloc&) {
    return PanelValues{};
  }
  return values;
}

const char* storePanelValues(const PanelValues& values, const std::string& streamerPath) noexcept {
  try {
    Key driver;
    if (platform::regCreateKey(currentUser(), control::kSettingsKey, driver.out()) !=
        platform::kRegOk) {
      return "The settings could not be saved: HKEY_CURRENT_USER\\Software\\TAVRO7 cannot be "
             "created.";
    }
    if (!writeText(driver.get(), control::kSinglePcValue, values.singlePc ? "1" : "0") ||
        (!values.singlePc &&
         !writeText(driver.get(), control::kHostValue, std::string(trimmed(values.host))))) {
      return "The settings could not be saved: the streamer's address cannot be written.";
    }
    if (!values.singlePc) return nullptr;

    Key streamer;
    if (platform::regCreateKey(currentUser(), kStreamerKey, streamer.out()) != platform::kRegOk) {
      return "The settings of the streamer on this PC could not be saved.";
    }
    const LocalStreamerValues& local = values.local;
    const RegKey key = streamer.get();
    const bool stored =
        platform::regSetUtf8String(key, "Device", local.device.c_str()) == platform::kRegOk &&
        platform::regSetDword(key, "Transport", local.transport) == platform::kRegOk &&
        platform::regSetDword(key, "WordLength", local.wordLength) == platform::kRegOk &&
        platform::regSetDword(key, "BufferIndex", local.bufferIndex) == platform::kRegOk &&
        platform::regSetDword(key, "BufferPackets", local.bufferPackets) == platform::kRegOk &&
        writeText(key, "DsdMode", local.dsdMode);
    if (!stored) return "The settings of the streamer on this PC could not be saved.";

    Key run;
    if (platform::regCreateKey(currentUser(), kRunKey, run.out()) != platform::kRegOk) {
      return "Start at logon could not be changed.";
    }
    if (values.startAtLogon) {
      if (!writeText(run.get(), kRunValue, "\"" + streamerPath + "\"")) {
        return "Start at logon could not be changed.";
      }
    } else if (const int32_t result = platform::regDeleteValue(run.get(), kRunValue);
               result != platform::kRegOk && result != platform::kRegNotFound) {
      return "Start at logon could not be changed.";
    }
    return nullptr;
  } catch (const std::bad_alloc&) {
    return "The settings could not be saved: out of memory.";
  }
}

}  // namespace tavro::settings
