#include "platform/open_counts.h"

#include <array>
#include <atomic>

namespace tavro::platform {
namespace {

std::array<std::atomic<int64_t>, static_cast<size_t>(Resource::kCount)> counts{};

std::atomic<int64_t>& slotOf(Resource kind) noexcept { return counts[static_cast<size_t>(kind)]; }

}  // namespace

int64_t openCount(Resource kind) noexcept { return slotOf(kind).load(std::memory_order_acquire); }

void countOpened(Resource kind) noexcept { slotOf(kind).fetch_add(1, std::memory_order_acq_rel); }

void countClosed(Resource kind) noexcept { slotOf(kind).fetch_sub(1, std::memory_order_acq_rel); }

}  // namespace tavro::platform
