#pragma once
// The fixed-size text frame of the control protocol: 512 UTF-16 units, little
// endian whatever the machine, the text ending with a NUL unit. One buffer
// serves every exchange in both directions; units after the NUL are left as an
// earlier frame had them, and a receiver ignores them.
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavro::control {

inline constexpr size_t kFrameBytes = 1024;
inline constexpr size_t kFrameUnits = kFrameBytes / 2;
inline constexpr size_t kMaxTextUnits = kFrameUnits - 1;  // room for the NUL

struct WireFrame {
  std::array<uint8_t, kFrameBytes> bytes{};

  char16_t unit(size_t index) const noexcept {
    return static_cast<char16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
  }
  void setUnit(size_t index, char16_t value) noexcept {
    bytes[2 * index] = static_cast<uint8_t>(value & 0xFF);
    bytes[2 * index + 1] = static_cast<uint8_t>(value >> 8);
  }
};

// The text of a frame, decoded to host order: up to the first NUL unit, or
// all 512 units when a hostile or broken peer sent none.
class FrameText {
 public:
  explicit FrameText(const WireFrame& frame) noexcept;
  std::u16string_view view() const noexcept { return {units_.data(), length_}; }

 private:
  std::array<char16_t, kFrameUnits> units_{};
  size_t length_ = 0;
};

// Writes `text` and its NUL, one unit per byte. A text longer than 511 units
// is refused and the frame left untouched: a cut command would say something
// else to the streamer.
bool writeFrameText(WireFrame& frame, std::string_view text) noexcept;

// printf-style formatting into the frame, bounded like writeFrameText.
bool formatFrame(WireFrame& frame, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));
bool formatFrameV(WireFrame& frame, const char* format, va_list arguments) noexcept;

// Long enough for a streamer that opens its audio device before it answers.
inline constexpr uint32_t kReplyTimeLimitMs = 10'000;

}  // namespace tavro::control
