#pragma once
// The streaming thread: waits for the streamer's ticks and runs one buffer
// switch and one packet per tick.
#include <cstdint>

#include "platform/thread.h"
#include "stream/session.h"

namespace tavro::stream {

// One tick: the host fills half currentHalf, which is packed and sent.
bool processTick(Session& session) noexcept;

// Raises the process and pins the threads, then starts the streaming thread
// for `driver`, whose `streaming` it sets first. `hostThread` (taken over)
// and `hostAffinity` are the starting thread and the mask it had before
// start; the end of the stream puts them back. False when no thread could be
// started, with everything as it was.
bool startStreamThread(Session& session, platform::ThreadHandle hostThread,
                       uintptr_t hostAffinity) noexcept;

// True on the streaming thread itself.
bool onStreamThread() noexcept;

}  // namespace tavro::stream
