#pragma once
// The packing paths, one file each. Every one handles whole groups of its own
// width and leaves the rest to the scalar path, so all of them cover any
// frame count exactly.
#include "stream/packing.h"

namespace tavro::stream::paths {

void packScalar(const PackJob& job, uint8_t* out) noexcept;

#if defined(__x86_64__) || defined(__i386__)
#define TAVRO_PACKING_X86 1
// A 32-bit Windows thread may enter with its stack aligned to 4 bytes only;
// vector spills need 16.
#if defined(__i386__)
#define TAVRO_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define TAVRO_ALIGN_STACK
#endif
void packSse2(const PackJob& job, uint8_t* out) noexcept;
void packSsse3(const PackJob& job, uint8_t* out) noexcept;
void packAvx2(const PackJob& job, uint8_t* out) noexcept;
void packAvx512(const PackJob& job, uint8_t* out) noexcept;
#endif

// Packs frames [first, job.frames) of `job` to `out`, which points at frame 0's
// bytes: the tail that a vector path leaves.
void packScalarFrom(const PackJob& job, uint32_t first, uint8_t* out) noexcept;

}  // namespace tavro::stream::paths
