// Checks a test DAC's capture against the shared test signal, where it was
// played, never by the sender's word:
//   capture_check FILE pcm CONTAINER_BYTES STREAM_BITS [--gaps]
//                                   samples left-justified in their container
//   capture_check FILE dop CONTAINER_BYTES [--gaps]
//                                   DoP frames, left-justified
//   capture_check FILE dsd [--gaps] one-bit bytes, MSB first
// Silence after the signal's last frame is the stream's end and passes.
// With --gaps, runs of silence before and between the signal's frames pass
// too (a DAC that ran dry plays silence, then the signal goes on where it
// stopped); each is counted. Prints how many frames (PCM, DoP) or bytes per
// channel (DSD) matched, the gaps, and the first frame that did not match.
// Exit 0 only when every frame is the signal in its order, or silence.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "signal/test_signal.h"

namespace {

enum class Kind { kPcm, kDop, kDsd };

int usage() {
  std::fprintf(stderr,
               "usage: capture_check FILE pcm CONTAINER_BYTES STREAM_BITS [--gaps]\n"
               "       capture_check FILE dop CONTAINER_BYTES [--gaps]\n"
               "       capture_check FILE dsd [--gaps]\n");
  return 2;
}

uint32_t leftJustified(uint32_t value24or32, int fromBits, int containerBytes) {
  return containerBytes * 8 >= fromBits ? value24or32 << (containerBytes * 8 - fromBits)
                                        : value24or32;
}

// The container's bytes, lowest first, of signal frame `frame`.
uint32_t expected(Kind kind, uint32_t channel, uint64_t frame, int container, int bits) {
  switch (kind) {
    case Kind::kDsd:
      return tavro::signal::dsdByte(channel, frame);
    case Kind::kDop: {
      const uint32_t marker = (frame & 1) == 0 ? 0x05 : 0xFA;
      const uint32_t dop = marker << 16 | uint32_t{tavro::signal::dsdByte(channel, 2 * frame)} << 8 |
                           tavro::signal::dsdByte(channel, 2 * frame + 1);
      return leftJustified(dop, 24, container);
    }
    case Kind::kPcm:
      break;
  }
  const auto sample = static_cast<uint32_t>(tavro::signal::pcmSample(channel, frame));
  return leftJustified(sample >> (32 - bits), bits, container);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  bool gaps = false;
  if (std::strcmp(argv[argc - 1], "--gaps") == 0) {
    gaps = true;
    --argc;
  }
  Kind kind = Kind::kPcm;
  int container = 0;
  int bits = 0;
  if (std::strcmp(argv[2], "dsd") == 0 && argc == 3) {
    kind = Kind::kDsd;
    container = 1;
    bits = 8;
  } else if (std::strcmp(argv[2], "dop") == 0 && argc == 4) {
    kind = Kind::kDop;
    container = std::atoi(argv[3]);
    bits = 24;
  } else if (std::strcmp(argv[2], "pcm") == 0 && argc == 5) {
    container = std::atoi(argv[3]);
    bits = std::atoi(argv[4]);
  } else {
    return usage();
  }
  if (container < 1 || container > 4 || bits < 8 || bits > container * 8) return usage();

  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  if (!file.eof() && !file) {
    std::printf("cannot read %s\n", argv[1]);
    return 1;
  }
  const uint32_t silence = kind == Kind::kDsd ? 0x69 : 0;
  const size_t frameBytes = 2 * static_cast<size_t>(container);
  const uint64_t frames = bytes.size() / frameBytes;
  uint64_t next = 0;  // the signal's next frame
  uint64_t gapCount = 0;
  bool inGap = false;
  uint64_t silentTail = 0;
  for (uint64_t at = 0; at < frames; ++at) {
    uint32_t got[2] = {};
    for (uint32_t channel = 0; channel < 2; ++channel) {
      const uint8_t* from = bytes.data() + at * frameBytes + channel * container;
      for (int b = 0; b < container; ++b) got[channel] |= static_cast<uint32_t>(from[b]) << (8 * b);
    }
    const bool matches = got[0] == expected(kind, 0, next, container, bits) &&
                         got[1] == expected(kind, 1, next, container, bits);
    if (matches) {
      if (silentTail > 0 && !gaps) break;  // silence inside the signal
      if (inGap) ++gapCount;
      inGap = false;
      silentTail = 0;
      ++next;
      continue;
    }
    const bool silent = got[0] == silence && got[1] == silence;
    if (silent && (next > 0 || gaps)) {
      inGap = true;
      ++silentTail;
      continue;
    }
    std::printf("mismatch at %s %llu (signal %s %llu): got 0x%08x 0x%08x, want 0x%08x 0x%08x\n",
                kind == Kind::kDsd ? "byte" : "frame", static_cast<unsigned long long>(at),
                kind == Kind::kDsd ? "byte" : "frame", static_cast<unsigned long long>(next),
                got[0], got[1], expected(kind, 0, next, container, bits),
                expected(kind, 1, next, container, bits));
    return 1;
  }
  if (silentTail > 0 && !gaps && next + silentTail < frames) {
    std::printf("silence inside the signal after %s %llu\n", kind == Kind::kDsd ? "byte" : "frame",
                static_cast<unsigned long long>(next));
    return 1;
  }
  if (next == 0) {
    std::printf("the capture holds none of the signal\n");
    return 1;
  }
  std::printf("bit-exact: %llu %s, %llu silent gaps\n", static_cast<unsigned long long>(next),
              kind == Kind::kDsd ? "bytes per channel" : "frames",
              static_cast<unsigned long long>(gapCount));
  return 0;
}
