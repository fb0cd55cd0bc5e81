#pragma once
// Where the streamer is: HKEY_CURRENT_USER\Software\TAVRO7, values
// "SinglePCOnly" and "Host". The driver never creates the key and writes
// only "Host", and only when it finds it empty.
#include <cstdint>

namespace tavro::control {

inline constexpr char kSettingsKey[] = "Software\\TAVRO7";
inline constexpr char kSinglePcValue[] = "SinglePCOnly";
inline constexpr char kHostValue[] = "Host";
inline constexpr uint32_t kValueBufferSize = 256;

// The C runtime's atoi: leading white space, an optional sign, decimal digits
// up to the first other character; 0 without digits. Out-of-range values
// saturate, as the runtime's strtol does.
int32_t leadingInteger(const char* text) noexcept;

// "SinglePCOnly" counts when the low 8 bits of its number are 1, so 257 does too.
bool selectsSinglePc(const char* text) noexcept;

// This PC's own first IPv4 address as dotted text; false when it has none.
bool thisPcAddress(char (&text)[kValueBufferSize]) noexcept;

struct StreamerAddress {
  bool found = false;
  char host[kValueBufferSize] = {};
  const char* failureText = nullptr;  // when not found, what the host is told, if anything
};

// Reads the key. An empty "Host" is replaced by this PC's own first IPv4
// address, which is written back. Not found: the key or "Host" cannot be read,
// this PC's address cannot be found (nothing reported), or the write-back
// fails ("TAVRODriver Host not set!" as failureText).
StreamerAddress readStreamerAddress() noexcept;

}  // namespace tavro::control
