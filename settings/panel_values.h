#pragma once
// What the settings window edits, as plain values: where the driver finds its
// streamer, and how the streamer on this PC plays. The window shows and
// collects them; the store reads and writes them. Nothing here knows about
// windows or the registry, so the rules can be checked anywhere.
#include <cstdint>
#include <string>
#include <string_view>

namespace tavro::settings {

// HKCU\Software\TAVRO7\Streamer, as the streamer on this PC reads it.
struct LocalStreamerValues {
  std::string device;            // one name of its interface list (UTF-8); empty: its default
  uint32_t transport = 1;        // 1: TCP on the control connection, 2: UDP
  uint32_t wordLength = 24;      // 16, 24 or 32
  uint32_t bufferIndex = 6;      // 0-9, the driver's buffer-size table
  uint32_t bufferPackets = 4;    // 2-32
  std::string dsdMode = "auto";  // "dop", "native" or "auto"

  bool operator==(const LocalStreamerValues&) const = default;
};

struct PanelValues {
  bool singlePc = true;  // "SinglePCOnly" = "1"
  std::string host;      // "Host", read only when singlePc is false
  LocalStreamerValues local;
  bool startAtLogon = false;

  bool operator==(const PanelValues&) const = default;
};

inline constexpr uint32_t kMinBufferPackets = 2;
inline constexpr uint32_t kMaxBufferPackets = 32;
inline constexpr uint32_t kBufferIndexCount = 10;
inline constexpr const char* kDsdModes[] = {"dop", "native", "auto"};
inline constexpr uint32_t kWordLengths[] = {16, 24, 32};

// "a.b.c.d" with four decimal parts of 0 to 255 and no leading zeros beyond
// a single "0": what the driver's numeric lookup takes, and no text that
// some resolver would read as octal or as a name.
bool isDottedIpv4(std::string_view text) noexcept;

// The text without white space at either end.
std::string_view trimmed(std::string_view text) noexcept;

// Why the values cannot be stored, as a sentence for the user; null when
// they can. Only what is in use is checked: an address typed for another
// computer does not matter while the streamer is on this PC.
const char* whyNotStorable(const PanelValues& values) noexcept;

}  // namespace tavro::settings
