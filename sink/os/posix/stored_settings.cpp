#include "sink/os/stored_settings.h"

namespace tavro::sink::os {

const char kStoredSettingsPlace[] = "";

std::unique_ptr<StoredSettings> openStoredSettings() { return nullptr; }

}  // namespace tavro::sink::os
