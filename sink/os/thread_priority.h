#pragma once
// Scheduling for the sink's time-critical threads: the ticks and the
// receiving, whose timestamps are the latency figures.
#include <string>

namespace tavro::sink::os {

// The best scheduling the system grants the calling thread: real time when
// allowed (`below` steps under the highest), else the best nice level
// granted; on Windows the Multimedia Class Scheduler's "Pro Audio" class
// and the highest thread priority. Returns what it got, as text.
std::string raiseThreadPriority(int below = 0);
// Back to ordinary scheduling. A raised thread calls it before it ends: on
// Windows the scheduler's registration is the thread's to give back.
void restoreThreadPriority();
// Timed waits on the calling thread wake when asked, not batched with other
// timers or rounded to the system's default tick.
void preciseWakeups();

}  // namespace tavro::sink::os
