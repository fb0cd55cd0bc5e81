#pragma once
// Reading the streamer's answers to "sget*" and "sgetAudioInterfaces". Both
// come from the network, so nothing here trusts their length or shape.
#include <cstdint>
#include <string_view>

#include "control/streamer_settings.h"

namespace tavro::control {

inline constexpr uint32_t kBufferSizeIndexCount = 10;
inline constexpr uint32_t kFallbackBufferSizeIndex = 6;

// The settings reply is five words, a number, then seven pairs of a word and a
// number, separated by white space; the words are the streamer's business and
// skipped without being stored. The numbers go, in order, to bufferSizeIndex,
// transportMode, interfaceIndex, wordLength, sampleShift, spareSetting,
// invertPolarity and driveMode. Where the text stops early or a number does
// not read, that field and all after it keep their values. Numbers are
// decimal with an optional sign and wrap modulo 2^32. Afterwards polarity is
// never inverted, and an index past the buffer-size table becomes 6.
void applySettingsReply(std::u16string_view text, uint32_t& bufferSizeIndex,
                        StreamerSettings& settings) noexcept;

// The interface reply is one name per line, each ending with U+000A; text
// after the last newline is no name. The first name carries the reply's
// leading "s". An interfaceIndex past the list falls back to 0, and a chosen
// interface whose name contains "ASIO:" takes 32-bit words. False only when
// memory for the list ran out; the list is then empty and the rest unchanged.
bool applyInterfaceReply(std::u16string_view text, StreamerSettings& settings) noexcept;

}  // namespace tavro::control
