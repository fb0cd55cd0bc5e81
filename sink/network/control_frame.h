#pragma once
// The driver's control frames as the sink reads and writes them: 1024 bytes
// of UTF-16LE text, NUL-padded, and which exchange a received text opens.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavro::sink {

inline constexpr size_t kFrameBytes = 1024;
inline constexpr size_t kFrameUnits = kFrameBytes / 2;

// The exchanges a driver runs, in order, and the one the peer does not know.
enum class Step { kGreeting, kSettings, kInterfaces, kAnnouncement, kUnknown };
inline constexpr size_t kStepCount = 5;

const char* stepName(Step step);

// Which exchange a received text opens.
Step classify(const std::u16string& text);

// The text of a whole frame: its units up to the first NUL.
std::u16string decodeFrame(const uint8_t (&frame)[kFrameBytes]);
// A reply as one frame, cut to leave room for its NUL; returns the text sent.
std::u16string encodeFrame(const std::string& reply, uint8_t (&frame)[kFrameBytes]);

}  // namespace tavro::sink
