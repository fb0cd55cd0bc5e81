#pragma once
// Module-wide counts that decide whether the DLL may be unloaded.
#include <atomic>
#include <cstdint>

namespace tavro::com {

std::atomic<int32_t>& activeObjects() noexcept;
// Changed by IClassFactory::LockServer. Atomic as well: hosts may lock and
// unlock from several threads, and a lost update would unload a DLL in use.
std::atomic<int32_t>& serverLocks() noexcept;

}  // namespace tavro::com
