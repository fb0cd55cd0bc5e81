#pragma once
// What the process holds open through this layer, per kind: a test compares
// the figures before and after a session to see that nothing outlived it.
// Counted where an open call succeeds and where its close is made.
#include <cstdint>

namespace tavro::platform {

enum class Resource : uint8_t { kSocket, kHandle, kPages, kThread, kCount };

int64_t openCount(Resource kind) noexcept;
void countOpened(Resource kind) noexcept;
void countClosed(Resource kind) noexcept;

}  // namespace tavro::platform
