#pragma once
#include "com/com_types.h"

namespace tavro::com {

// The driver's class identifier. Hosts store it; it must never change.
// {B7C1E3A4-5D2F-4E8B-9A61-3F0D7C25E914}
inline constexpr Guid kClsidTavroDriver{
    0xB7C1E3A4, 0x5D2F, 0x4E8B, {0x9A, 0x61, 0x3F, 0x0D, 0x7C, 0x25, 0xE9, 0x14}};

}  // namespace tavro::com
