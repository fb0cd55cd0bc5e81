#include <cstdio>

#include "com/class_id.h"
#include "com/exports.h"
#include "com/module_identity.h"
#include "com/registration.h"
#include "platform/desktop.h"

namespace tavro::com {
namespace {

// The registration tool runs us silently or not; either way the user learns
// why it failed only from this box.
HResult reportFailure(const char* format, int32_t result) noexcept {
  char text[128] = {};
  std::snprintf(text, sizeof text, format, result);
  platform::messageBox(text, "TAVRODriver");
  return -1;
}

}  // namespace
}  // namespace tavro::com

extern "C" tavro::com::HResult TAVRO_STDCALL DllRegisterServer() {
  using namespace tavro::com;
  const int32_t result = registerServer(kClsidTavroDriver, kModuleFileName, kDriverKeyName,
                                        kDriverDescription, kThreadingModel);
  return result == kRegistrationOk ? kSOk : reportFailure("Register Server failed ! (%d)", result);
}

extern "C" tavro::com::HResult TAVRO_STDCALL DllUnregisterServer() {
  using namespace tavro::com;
  const int32_t result = unregisterServer(kClsidTavroDriver, kModuleFileName, kDriverKeyName);
  return result == kRegistrationOk ? kSOk
                                   : reportFailure("Unregister Server failed ! (%d)", result);
}
