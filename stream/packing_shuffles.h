#pragma once
// Byte-shuffle tables for the 24-bit and DSD-over-PCM layouts: for each
// output byte of a group of four frames, which byte of the four left (or
// right) words goes there, or -128 for none. Built from the layouts' frame
// descriptions at compile time, so the tables cannot drift from them.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tavro::stream::kernels {

using ShuffleTable = std::array<int8_t, 16>;

// One frame's bytes: the channel (0 left, 1 right) and byte of its word each
// comes from; channel -1 is a marker byte.
struct FrameByte {
  int8_t channel;
  int8_t byte;
};
inline constexpr FrameByte kPcm24Frame[6] = {{0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {1, 3}};
inline constexpr FrameByte kDopFrame[12] = {{0, 1}, {0, 0}, {-1, 0}, {1, 1}, {1, 0}, {-1, 0},
                                            {0, 3}, {0, 2}, {-1, 1}, {1, 3}, {1, 2}, {-1, 1}};
inline constexpr uint8_t kDopMarkers[2] = {0x05, 0xFA};

// Output bytes [16 * block, 16 * block + 16) of a group of `groupFrames`
// frames, taken from `channel`'s four words starting at the group's word
// `firstWord`. A byte whose word is not among those four stops the build.
template <std::size_t N>
constexpr ShuffleTable shuffleFor(const FrameByte (&frame)[N], int channel, int block,
                                  int groupFrames = 4, int firstWord = 0) {
  ShuffleTable table{};
  for (int j = 0; j < 16; ++j) {
    const int position = 16 * block + j;
    const int word = position / static_cast<int>(N) - firstWord;
    const FrameByte& source = frame[position % static_cast<int>(N)];
    if (source.channel != channel || position >= groupFrames * static_cast<int>(N)) {
      table[j] = -128;
      continue;
    }
    if (word < 0 || word > 3) throw "the block needs a word outside the four loaded";
    table[j] = static_cast<int8_t>(4 * word + source.byte);
  }
  return table;
}

// The marker bytes of the same output block, zero elsewhere.
constexpr ShuffleTable dopMarkerBlock(int block) {
  ShuffleTable table{};
  for (int j = 0; j < 16; ++j) {
    const FrameByte& source = kDopFrame[(16 * block + j) % 12];  // the same in every frame
    table[j] = static_cast<int8_t>(source.channel < 0 ? kDopMarkers[source.byte] : 0);
  }
  return table;
}

}  // namespace tavro::stream::kernels
