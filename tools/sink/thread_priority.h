#pragma once
// Scheduling for the sink's time-critical threads: the ticks and the
// receiving, whose timestamps are the latency figures.
#include <string>

namespace tavro::sink {

// Real-time scheduling when allowed (`below` steps under the highest
// real-time priority), else the best nice level granted. Returns what the
// calling thread got, as text.
std::string raiseThreadPriority(int below = 0);
// Back to ordinary scheduling.
void restoreThreadPriority();

}  // namespace tavro::sink
