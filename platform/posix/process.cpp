#include "platform/process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fault.h"

namespace tavro::platform {

// Windows' CreateProcessA with a whole command line of "quiet" gives the child
// that text as its only argument; here it becomes argv[0], as there. The child
// is started through an intermediate process that exits at once, so the
// program is adopted by init and never lingers as a zombie of the host.
bool launchDetached(const char* applicationPath, const char* commandLine) noexcept {
  if (injected(Call::CreateProcessA)) return false;
  if (access(applicationPath, X_OK) != 0) return false;
  const pid_t middle = fork();
  if (middle < 0) return false;
  if (middle == 0) {
    const pid_t child = fork();
    if (child == 0) {
      setpriority(PRIO_PROCESS, 0, 19);  // idle priority
      char* const argv[] = {const_cast<char*>(commandLine), nullptr};
      execv(applicationPath, argv);
      _exit(127);
    }
    _exit(child < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tavro::platform
