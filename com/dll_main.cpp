#include "com/exports.h"

// Nothing to set up or tear down per process or thread: every resource is
// made by the objects, and released by them.
extern "C" int32_t TAVRO_STDCALL DllMain(void*, uint32_t, void*) { return 1; }
