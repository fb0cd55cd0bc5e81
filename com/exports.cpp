#include "com/exports.h"

#include <atomic>
#include <new>

#include "com/class_factory.h"
#include "com/class_table.h"
#include "com/module_counters.h"
#include "driver/process.h"
#include "platform/log.h"

using namespace tavro::com;

namespace {

// Hosts ask for the class object right after loading the module: the log's
// first line, once per process.
void logModuleLoad() noexcept {
  if (tavro::driver::process().loadLogged.exchange(true)) return;
  tavro::platform::log::refresh();
  tavro::platform::log::line("loaded: %s, version %s", TAVRO_MODULE_FILE_NAME,
                             TAVRO_PROJECT_VERSION);
}

}  // namespace

extern "C" HResult TAVRO_STDCALL DllGetClassObject(const Guid* clsid, const Guid* iid, void** out) {
  logModuleLoad();
  if (!(*iid == kIidIUnknown) && !(*iid == kIidIClassFactory)) return kENoInterface;
  for (size_t i = 0; i < kClassTableLength; ++i) {
    const ClassEntry& entry = kClassTable[i];
    if (!(*entry.classId == *clsid)) continue;
    auto* factory = new (std::nothrow) CClassFactory(&entry);
    if (factory == nullptr) {
      *out = nullptr;
      return kEOutOfMemory;
    }
    *out = static_cast<IClassFactory*>(factory);
    factory->AddRef();
    return kSOk;
  }
  return kClassENotAvailable;
}

extern "C" HResult TAVRO_STDCALL DllCanUnloadNow() {
  const bool busy = serverLocks().load(std::memory_order_acquire) > 0 ||
                    activeObjects().load(std::memory_order_acquire) != 0;
  return busy ? kSFalse : kSOk;
}
