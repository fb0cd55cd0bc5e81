#include "stream/packing.h"

#include <atomic>
#include <initializer_list>

#include "stream/dsd_rates.h"
#include "stream/packing_kernels.h"

namespace tavro::stream {
namespace {

using kernels::Kernel;
using kernels::KernelRow;

bool processorHas(PackPath path) noexcept {
#if defined(TAVRO_PACKING_X86)
  // May run before the runtime's own constructors, so ask for the data first.
  __builtin_cpu_init();
  switch (path) {
    case PackPath::Scalar:
      return true;
    case PackPath::Sse2:
      return __builtin_cpu_supports("sse2");
    case PackPath::Ssse3:
      return __builtin_cpu_supports("ssse3");
    case PackPath::Avx2:
      return __builtin_cpu_supports("avx2");
    case PackPath::Avx512:
      return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    case PackPath::Count:
      break;
  }
  return false;
#else
  return path == PackPath::Scalar;
#endif
}

// The scalar path's row is empty: the reference packs every frame.
constexpr KernelRow kScalarKernels{};

const KernelRow& rowFor(PackPath path) noexcept {
  switch (path) {
#if defined(TAVRO_PACKING_X86)
    case PackPath::Sse2:
      return kernels::kSse2Kernels;
    case PackPath::Ssse3:
      return kernels::kSsse3Kernels;
    case PackPath::Avx2:
      return kernels::kAvx2Kernels;
    case PackPath::Avx512:
      return kernels::kAvx512Kernels;
#endif
    default:
      return kScalarKernels;
  }
}

uint32_t detectPaths() noexcept {
  uint32_t mask = 0;
  for (int path = 0; path < static_cast<int>(PackPath::Count); ++path) {
    if (processorHas(static_cast<PackPath>(path))) mask |= 1u << path;
  }
  return mask;
}

PackPath fastestOf(uint32_t mask) noexcept {
  for (PackPath path : {PackPath::Avx512, PackPath::Avx2, PackPath::Ssse3, PackPath::Sse2}) {
    if ((mask & (1u << static_cast<int>(path))) != 0) return path;
  }
  return PackPath::Scalar;
}

constexpr uint32_t kKnown = 1u << 31;

// Constant-initialized, so that a caller from another file's static
// initializer finds them valid; filled on first use and again harmlessly if
// two threads race there, since both find the same answer.
std::atomic<uint32_t> availablePaths{0};
std::atomic<const KernelRow*> bestRow{nullptr};

uint32_t available() noexcept {
  uint32_t mask = availablePaths.load(std::memory_order_relaxed);
  if ((mask & kKnown) == 0) {
    mask = detectPaths() | kKnown;
    availablePaths.store(mask, std::memory_order_relaxed);
  }
  return mask;
}

const KernelRow& best() noexcept {
  const KernelRow* row = bestRow.load(std::memory_order_relaxed);
  if (row == nullptr) {
    row = &rowFor(fastestOf(available()));
    bestRow.store(row, std::memory_order_relaxed);
  }
  return *row;
}

// Asked while the module loads, so the streaming thread only reads.
[[maybe_unused]] const KernelRow& kAskedAtLoad = best();

Kernel kernelFor(const KernelRow& row, const PackJob& job) noexcept {
  const bool adjusts = (job.adjust.shift & 31u) != 0 || job.adjust.invert;
  switch (job.layout) {
    case WireLayout::Pcm16:
      return row.pcm16[adjusts];
    case WireLayout::Pcm24:
      return row.pcm24[adjusts];
    case WireLayout::Pcm32:
      return row.pcm32[adjusts];
    case WireLayout::Dop:
      return row.dop;
  }
  return nullptr;
}

// The one place frames are divided: the row's kernel takes the whole groups
// it can, the scalar reference the rest.
void packBy(const KernelRow& row, const PackJob& job, uint8_t* out) noexcept {
  const Kernel kernel = kernelFor(row, job);
  const uint32_t done = kernel != nullptr ? kernel(job, out) : 0;
  kernels::packScalarFrom(job, done, out);
}

}  // namespace

WireLayout wireLayout(int32_t wireBits, double sampleRate) noexcept {
  if (stream::isDsdStream(sampleRate)) return WireLayout::Dop;
  if (wireBits == 16) return WireLayout::Pcm16;
  if (wireBits == 32) return WireLayout::Pcm32;
  return WireLayout::Pcm24;
}

uint32_t packetBytes(WireLayout layout, int32_t bufferFrames) noexcept {
  if (bufferFrames <= 0) return 0;
  auto frames = static_cast<uint64_t>(bufferFrames);
  // One DSD word carries 32 one-bit samples; its 4 bytes make two DoP frames.
  if (layout == WireLayout::Dop) frames /= 32;
  const uint64_t bytes = frames * bytesPerFrame(layout);
  return bytes <= UINT32_MAX ? static_cast<uint32_t>(bytes) : 0;
}

PcmAdjust pcmAdjust(double sampleRate, uint32_t sampleShift, uint32_t invertPolarity) noexcept {
  // Written as "below" so that a NaN rate, which compares false, is left alone.
  if (!(sampleRate < stream::kDsdBufferRate)) return {};
  return {sampleShift % 32, invertPolarity != 0};
}

const char* pathName(PackPath path) noexcept {
  switch (path) {
    case PackPath::Scalar:
      return "scalar";
    case PackPath::Sse2:
      return "sse2";
    case PackPath::Ssse3:
      return "ssse3";
    case PackPath::Avx2:
      return "avx2";
    case PackPath::Avx512:
      return "avx512";
    case PackPath::Count:
      break;
  }
  return "?";
}

bool pathAvailable(PackPath path) noexcept {
  return path < PackPath::Count && (available() & (1u << static_cast<int>(path))) != 0;
}

PackPath bestPath() noexcept { return fastestOf(available()); }

void pack(const PackJob& job, uint8_t* out) noexcept { packBy(best(), job, out); }

void packWith(PackPath path, const PackJob& job, uint8_t* out) noexcept {
  packBy(rowFor(pathAvailable(path) ? path : PackPath::Scalar), job, out);
}

}  // namespace tavro::stream
