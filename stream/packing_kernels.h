#pragma once
// The packing kernels, one file per instruction set, each exposing its
// kernels as one row of the table packing.cpp dispatches from. A kernel packs
// only the whole groups of its own width from the start of the job and
// returns how many frames that was; the dispatcher packs the rest with the
// scalar reference, so every path covers any frame count the same way.
#include "stream/packing.h"

namespace tavro::stream::kernels {

using Kernel = uint32_t (*)(const PackJob& job, uint8_t* out) noexcept;

// Each PCM layout comes in two kernels, so that the common case of no
// adjustment costs nothing per group; a null kernel leaves every frame to the
// scalar reference.
struct KernelRow {
  Kernel pcm16[2];  // [1] applies job.adjust
  Kernel pcm24[2];
  Kernel pcm32[2];
  Kernel dop;
};

// Packs frames [first, job.frames) of `job` to `out`, which points at frame 0's
// bytes: every frame of the scalar path, the leftover ones of the others.
void packScalarFrom(const PackJob& job, uint32_t first, uint8_t* out) noexcept;

#if defined(__x86_64__) || defined(__i386__)
#define TAVRO_PACKING_X86 1
extern const KernelRow kSse2Kernels;
extern const KernelRow kSsse3Kernels;
extern const KernelRow kAvx2Kernels;
extern const KernelRow kAvx512Kernels;  // needs AVX-512 BW and VBMI
#endif

}  // namespace tavro::stream::kernels
