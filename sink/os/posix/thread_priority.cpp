#include "sink/os/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tavro::sink::os {
namespace {

bool setFifo(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  return priority > 0 && ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace

std::string raiseThreadPriority(int below) {
  // A user without the capability gets no more than RLIMIT_RTPRIO (a service
  // sets it below the top, where the kernel's own threads run), so asking for
  // the top would lose real-time scheduling altogether.
  const int highest = ::sched_get_priority_max(SCHED_FIFO);
  rlimit limit{};
  const int allowed =
      ::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur < static_cast<rlim_t>(highest)
          ? static_cast<int>(limit.rlim_cur)
          : highest;
  for (const int top : {highest, allowed}) {
    if (setFifo(top - below)) return "SCHED_FIFO " + std::to_string(top - below);
  }
  const auto self = static_cast<id_t>(::gettid());
  for (int nice = -20; nice < 0; ++nice) {
    if (::setpriority(PRIO_PROCESS, self, nice) == 0) return "nice " + std::to_string(nice);
  }
  return "normal priority";
}

void preciseWakeups() { ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

void restoreThreadPriority() {
  const sched_param param{};
  ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &param);
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 0);
}

}  // namespace tavro::sink::os
