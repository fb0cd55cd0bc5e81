#include "control/streamer_host.h"

#include <climits>
#include <cstring>

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "platform/net.h"
#include "platform/registry.h"

namespace tavro::control {
namespace {

// The registry is asked for one unit less than the buffer holds, so a value
// that fills it is refused rather than left without its NUL.
constexpr uint32_t kValueSizeAsked = kValueBufferSize - 1;

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != 0) platform::regCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  platform::RegKey* out() noexcept { return &key_; }
  platform::RegKey get() const noexcept { return key_; }

 private:
  platform::RegKey key_ = 0;
};

bool readText(platform::RegKey key, const char* value, char (&buffer)[kValueBufferSize]) noexcept {
  std::memset(buffer, 0, sizeof buffer);
  uint32_t size = kValueSizeAsked;
  if (platform::regGetString(key, value, buffer, &size) != platform::kRegOk) return false;
  buffer[kValueBufferSize - 1] = '\0';
  return true;
}

bool isWhiteSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool thisPcAddress(char (&text)[kValueBufferSize]) noexcept {
  char name[kValueBufferSize] = {};
  return platform::localHostName(name, sizeof name) &&
         platform::firstIpv4Address(name, text, sizeof text);
}

int32_t leadingInteger(const char* text) noexcept {
  while (isWhiteSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) magnitude = int64_t{INT32_MAX} + 1;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

bool selectsSinglePc(const char* text) noexcept {
  return (static_cast<uint32_t>(leadingInteger(text)) & 0xFFu) == 1u;
}

StreamerAddress readStreamerAddress() noexcept {
  StreamerAddress address;
  OpenKey key;
  if (platform::regOpenKey(platform::registryRoot(platform::RegRoot::kCurrentUser), kSettingsKey,
                           platform::kKeyQueryValue | platform::kKeySetValue,
                           key.out()) != platform::kRegOk) {
    return address;
  }

  char value[kValueBufferSize];
  // Missing, not a text, or unreadable: the streamer is not on this PC.
  if (readText(key.get(), kSinglePcValue, value) && selectsSinglePc(value)) {
    std::memcpy(address.host, kSinglePcHost, sizeof kSinglePcHost);
    address.found = true;
    return address;
  }

  if (!readText(key.get(), kHostValue, address.host)) return address;
  if (address.host[0] == '\0') {
    // A PC whose own address cannot be found has nothing to connect to.
    if (!thisPcAddress(address.host)) return address;
    const auto length = static_cast<uint32_t>(std::strlen(address.host));
    if (platform::regSetString(key.get(), kHostValue, address.host, length) != platform::kRegOk) {
      address.failureText = errors::kHostNotSet;
      return address;
    }
  }
  address.found = true;
  return address;
}

}  // namespace tavro::control
