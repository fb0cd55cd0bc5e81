// Checks a test DAC's capture against the shared test signal, where it was
// played, never by the sender's word:
//   capture_check FILE pcm CONTAINER_BYTES STREAM_BITS   samples left-justified
//                                                        in their container
//   capture_check FILE dsd                               one-bit bytes, MSB first
// Prints how many frames (PCM) or bytes per channel (DSD) matched from the
// signal's start, and the first that did not. Exit 0 only when all did.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "signal/test_signal.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: capture_check FILE pcm CONTAINER_BYTES STREAM_BITS | FILE dsd\n");
  return 2;
}

// The container's bytes, lowest first, of the host's sample cut to the stream's bits.
uint32_t expectedPcm(uint32_t channel, uint64_t frame, int containerBytes, int streamBits) {
  const auto sample = static_cast<uint32_t>(tavro::signal::pcmSample(channel, frame));
  const uint32_t kept = sample >> (32 - streamBits);
  return containerBytes * 8 == streamBits ? kept : kept << (containerBytes * 8 - streamBits);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  if (!file.eof() && !file) {
    std::printf("cannot read %s\n", argv[1]);
    return 1;
  }
  const bool dsd = std::strcmp(argv[2], "dsd") == 0;
  const int container = dsd ? 1 : (argc == 5 ? std::atoi(argv[3]) : 0);
  const int bits = dsd ? 8 : (argc == 5 ? std::atoi(argv[4]) : 0);
  if ((!dsd && std::strcmp(argv[2], "pcm") != 0) || container < 1 || container > 4 || bits < 8 ||
      bits > container * 8) {
    return usage();
  }
  const size_t frameBytes = 2 * static_cast<size_t>(container);
  const uint64_t frames = bytes.size() / frameBytes;
  for (uint64_t frame = 0; frame < frames; ++frame) {
    for (uint32_t channel = 0; channel < 2; ++channel) {
      const uint8_t* at = bytes.data() + frame * frameBytes + channel * container;
      uint32_t got = 0;
      for (int b = 0; b < container; ++b) got |= static_cast<uint32_t>(at[b]) << (8 * b);
      const uint32_t want = dsd ? tavro::signal::dsdByte(channel, frame)
                                : expectedPcm(channel, frame, container, bits);
      if (got != want) {
        std::printf("mismatch at %s %llu channel %u: got 0x%08x, want 0x%08x\n",
                    dsd ? "byte" : "frame", static_cast<unsigned long long>(frame), channel, got,
                    want);
        return 1;
      }
    }
  }
  if (frames == 0) {
    std::printf("the capture is empty\n");
    return 1;
  }
  std::printf("bit-exact: %llu %s\n", static_cast<unsigned long long>(frames),
              dsd ? "bytes per channel" : "frames");
  return 0;
}
