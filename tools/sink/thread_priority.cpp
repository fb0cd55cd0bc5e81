#include "sink/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tavro::sink {

std::string raiseThreadPriority(int below) {
  sched_param param{};
  param.sched_priority = ::sched_get_priority_max(SCHED_FIFO) - below;
  if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0) {
    return "SCHED_FIFO " + std::to_string(param.sched_priority);
  }
  const auto self = static_cast<id_t>(::gettid());
  for (int nice = -20; nice < 0; ++nice) {
    if (::setpriority(PRIO_PROCESS, self, nice) == 0) return "nice " + std::to_string(nice);
  }
  return "normal priority";
}

void restoreThreadPriority() {
  const sched_param param{};
  ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &param);
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 0);
}

}  // namespace tavro::sink
