#pragma once
// The thread that calls start, pinned to the first processor while start
// runs. Whoever holds it last puts the mask back: start itself when it
// fails, the stream's end when it ran.
#include <cstdint>

#include "platform/thread.h"

namespace tavro::driver {

class StartingThread {
 public:
  StartingThread() noexcept;
  ~StartingThread();
  StartingThread(StartingThread&& other) noexcept;
  StartingThread& operator=(StartingThread&& other) noexcept;
  StartingThread(const StartingThread&) = delete;
  StartingThread& operator=(const StartingThread&) = delete;

  platform::ThreadHandle handle() const noexcept { return handle_; }

 private:
  void restore() noexcept;

  platform::ThreadHandle handle_ = nullptr;
  uintptr_t previousMask_ = 0;
};

}  // namespace tavro::driver
