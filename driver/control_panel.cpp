#include "driver/control_panel.h"

#include <cstring>

#include "com/module_identity.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace tavro::driver {
namespace {

bool launchControlPanel(const char* commandLine) noexcept {
  // Under another file name the lookup finds nothing, and the null module
  // stands for the host program: the panel is then looked for beside it.
  const platform::ModuleHandle module = platform::moduleHandleByName(com::kModuleFileName);
  char path[256 + 1 + sizeof kControlPanelFileName];
  constexpr uint32_t kPathRoom = 256;
  const uint32_t length = platform::moduleFileName(module, path, kPathRoom);
  // A path cut to fit the buffer would name some other directory.
  if (length == 0 || length >= kPathRoom) return false;

  char* lastSeparator = std::strrchr(path, platform::kPathSeparator);
  char* end = lastSeparator != nullptr ? lastSeparator : path + length;
  *end++ = platform::kPathSeparator;
  std::memcpy(end, kControlPanelFileName, sizeof kControlPanelFileName);
  return platform::launchDetached(path, commandLine);
}

}  // namespace

void launchControlPanelUnlessRunning() noexcept {
  if (platform::KernelHandle running = platform::openMutex(kControlPanelMutexName)) {
    platform::closeHandle(running);
    return;
  }
  launchControlPanel(kControlPanelCommandLine);
}

bool openControlPanel() noexcept { return launchControlPanel(kControlPanelOpenCommandLine); }

}  // namespace tavro::driver
