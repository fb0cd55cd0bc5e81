#pragma once
// Starting an outside program without waiting for it.

namespace tavro::platform {

// CreateProcessA(applicationPath, commandLine) at idle priority, no inherited
// handles, the caller's environment and directory. The child's handles are
// closed at once; nobody waits for it. False when it could not be started.
bool launchDetached(const char* applicationPath, const char* commandLine) noexcept;

}  // namespace tavro::platform
