#include "control/wire_frame.h"

#include <atomic>
#include <cstdio>

#include "control/control_connection.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace tavro::control {

FrameText::FrameText(const WireFrame& frame) noexcept {
  while (length_ < kFrameUnits) {
    const char16_t unit = frame.unit(length_);
    if (unit == u'\0') break;
    units_[length_++] = unit;
  }
}

bool writeFrameText(WireFrame& frame, std::string_view text) noexcept {
  if (text.size() > kMaxTextUnits) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    frame.setUnit(i, static_cast<char16_t>(static_cast<unsigned char>(text[i])));
  }
  frame.setUnit(text.size(), u'\0');
  return true;
}

bool formatFrameV(WireFrame& frame, const char* format, va_list arguments) noexcept {
  // One byte more than a frame's text can hold tells a fitting text from a cut one.
  char text[kMaxTextUnits + 2];
  // Every caller hands over a list it started; the analyzer cannot see that.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  if (length < 0 || static_cast<size_t>(length) > kMaxTextUnits) return false;
  return writeFrameText(frame, std::string_view(text, static_cast<size_t>(length)));
}

bool formatFrame(WireFrame& frame, const char* format, ...) noexcept {
  va_list arguments;
  va_start(arguments, format);
  const bool written = formatFrameV(frame, format, arguments);
  va_end(arguments);
  return written;
}

bool sendFrame(Connection& connection, const char* format, ...) noexcept {
  va_list arguments;
  va_start(arguments, format);
  const bool written = formatFrameV(connection.frame(), format, arguments);
  va_end(arguments);
  if (!written) return false;
  const platform::Socket socket = connection.socket();
  if (socket == platform::kInvalidSocket) return false;
  return platform::sendBytes(socket, connection.frame().bytes.data(), kFrameBytes) !=
         platform::kSocketError;
}

bool receiveFrame(Connection& connection) noexcept {
  const platform::Socket socket = connection.socket();
  if (socket == platform::kInvalidSocket) return false;
  uint8_t* const bytes = connection.frame().bytes.data();
  // One limit for the whole frame: a streamer that dribbles a byte now and
  // then must not keep the host's thread any longer than one that is silent.
  const uint64_t limitNs = uint64_t{connection.replyLimitMs()} * 1'000'000;
  const uint64_t startNs = platform::monotonicNanoseconds();
  size_t received = 0;
  while (received < kFrameBytes) {
    uint64_t leftNs = limitNs;
    const uint64_t nowNs = platform::monotonicNanoseconds();
    // Without a clock each wait still has the whole limit: bounded all the same.
    if (startNs != 0 && nowNs != 0) {
      const uint64_t spentNs = nowNs - startNs;
      leftNs = spentNs >= limitNs ? 0 : limitNs - spentNs;
    }
    if (platform::waitReadable(socket, static_cast<uint32_t>(leftNs / 1'000'000)) != 1) {
      return false;
    }
    const int32_t count = platform::receiveBytes(socket, bytes + received,
                                                 static_cast<int32_t>(kFrameBytes - received));
    if (count <= 0) return false;
    received += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace tavro::control
