#pragma once
// The classes this module can create: one, the driver.
#include <cstddef>

#include "com/com_types.h"

namespace tavro::com {

class CUnknown;

using CreateFunction = CUnknown* (*)(IUnknown* outer, HResult* result);

struct ClassEntry {
  const char16_t* displayName;
  const Guid* classId;
  CreateFunction create;
};

extern const ClassEntry kClassTable[];
extern const size_t kClassTableLength;

}  // namespace tavro::com
