// Packing throughput per layout and path, in input bytes per second, beside
// memcpy of the same input bytes; and a whole tick (packing, then the send's
// read of the packet) to judge the store kind of the 16- and 32-bit layouts.
// scripts/bench-packing runs it and prints the table README shows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/buffer_size.h"
#include "stream/dsd_rates.h"
#include "stream/packing.h"

namespace {

using tavro::stream::PackJob;
using tavro::stream::PackPath;
using tavro::stream::WireLayout;

struct Case {
  const char* rateName;
  double rate;
  int32_t wireBits;
};

// 44.1 kHz in every PCM layout, 192 kHz at 24 bits, DSD64 and DSD512.
const Case kCases[] = {
    {"44k1", 44100.0, 16},  {"44k1", 44100.0, 24},    {"44k1", 44100.0, 32},
    {"192k", 192000.0, 24}, {"dsd64", 2822400.0, 24}, {"dsd512", 22579200.0, 24},
};
const uint32_t kSizeIndexes[] = {0, 6, 9};

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeDeleter>;

Block pageBlock(size_t bytes) {
  const size_t rounded = (bytes + 4095) / 4096 * 4096;
  return Block(static_cast<uint8_t*>(std::aligned_alloc(4096, rounded == 0 ? 4096 : rounded)));
}

// One half of each channel, filled with noise, and a packet buffer with the
// transport's 64 bytes after it.
struct Stream {
  Stream(const Case& c, uint32_t index) {
    const int32_t bufferFrames = tavro::driver::bufferSizeFor(index, c.rate);
    frames = static_cast<uint32_t>(tavro::stream::framesPerHalf(bufferFrames, c.rate));
    layout = tavro::stream::wireLayout(c.wireBits, c.rate);
    packetBytes = tavro::stream::packetBytes(layout, bufferFrames);
    left = pageBlock(frames * 4u);
    right = pageBlock(frames * 4u);
    packet = pageBlock(packetBytes + 64u);
    copy = pageBlock(frames * 8u);
    std::mt19937 random(index);
    for (uint32_t i = 0; i < frames; ++i) {
      reinterpret_cast<uint32_t*>(left.get())[i] = static_cast<uint32_t>(random());
      reinterpret_cast<uint32_t*>(right.get())[i] = static_cast<uint32_t>(random());
    }
    std::memset(packet.get(), 0, packetBytes + 64u);
    std::memset(copy.get(), 0, frames * 8u);
  }

  PackJob job() const {
    return {reinterpret_cast<const uint32_t*>(left.get()),
            reinterpret_cast<const uint32_t*>(right.get()), frames, layout,
            tavro::stream::pcmAdjust(44100.0, layout == WireLayout::Pcm24 ? 1 : 0, 0)};
  }

  uint32_t frames = 0;
  WireLayout layout = WireLayout::Pcm24;
  uint32_t packetBytes = 0;
  Block left, right, packet, copy;
};

std::string caseName(const Case& c, uint32_t index, const Stream& s) {
  const bool dsd = tavro::stream::isDsdStream(c.rate);
  return std::string(c.rateName) + "-" + (dsd ? "dop" : std::to_string(c.wireBits)) + "/idx" +
         std::to_string(index) + "/frames:" + std::to_string(s.frames);
}

void setCounters(benchmark::State& state, const Stream& s) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.frames * 8);
  state.counters["packet_bytes"] = s.packetBytes;
}

void registerAll() {
  for (const Case& c : kCases) {
    for (uint32_t index : kSizeIndexes) {
      auto stream = std::make_shared<Stream>(c, index);
      const std::string name = caseName(c, index, *stream);
      // The two channel halves copied into one block of the same size.
      benchmark::RegisterBenchmark(("memcpy/" + name).c_str(), [stream](benchmark::State& state) {
        const size_t half = stream->frames * 4u;
        for (auto _ : state) {
          std::memcpy(stream->copy.get(), stream->left.get(), half);
          std::memcpy(stream->copy.get() + half, stream->right.get(), half);
          benchmark::DoNotOptimize(stream->copy.get());
          benchmark::ClobberMemory();
        }
        setCounters(state, *stream);
      });
      const bool shuffled =
          stream->layout == WireLayout::Pcm24 || stream->layout == WireLayout::Dop;
      for (int p = 0; p < static_cast<int>(PackPath::Count); ++p) {
        const auto path = static_cast<PackPath>(p);
        // SSSE3 only changes the shuffled layouts.
        if (!tavro::stream::pathAvailable(path) || (path == PackPath::Ssse3 && !shuffled)) continue;
        benchmark::RegisterBenchmark(("pack/" + name + "/" + tavro::stream::pathName(path)).c_str(),
                                     [stream, path](benchmark::State& state) {
                                       const PackJob job = stream->job();
                                       for (auto _ : state) {
                                         tavro::stream::packWith(path, job, stream->packet.get());
                                         benchmark::DoNotOptimize(stream->packet.get());
                                         benchmark::ClobberMemory();
                                       }
                                       setCounters(state, *stream);
                                     });
        if (shuffled || path == PackPath::Scalar) continue;
        // A tick: packing, then the send copying the packet out, as the
        // socket layer does.
        benchmark::RegisterBenchmark(("tick/" + name + "/" + tavro::stream::pathName(path)).c_str(),
                                     [stream, path](benchmark::State& state) {
                                       const PackJob job = stream->job();
                                       for (auto _ : state) {
                                         tavro::stream::packWith(path, job, stream->packet.get());
                                         std::memcpy(stream->copy.get(), stream->packet.get(),
                                                     stream->packetBytes);
                                         benchmark::DoNotOptimize(stream->copy.get());
                                         benchmark::ClobberMemory();
                                       }
                                       setCounters(state, *stream);
                                     });
      }
    }
  }
}

const int kRegistered = (registerAll(), 0);

}  // namespace
