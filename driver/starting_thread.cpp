#include "driver/starting_thread.h"

namespace tavro::driver {
namespace {

constexpr uintptr_t kStartProcessorMask = 1;

}  // namespace

StartingThread::StartingThread() noexcept
    : handle_(platform::openCurrentThread()),
      previousMask_(platform::setThreadAffinity(handle_, kStartProcessorMask)) {}

StartingThread::~StartingThread() { restore(); }

StartingThread::StartingThread(StartingThread&& other) noexcept
    : handle_(other.handle_), previousMask_(other.previousMask_) {
  other.handle_ = nullptr;
}

StartingThread& StartingThread::operator=(StartingThread&& other) noexcept {
  if (this != &other) {
    restore();
    handle_ = other.handle_;
    previousMask_ = other.previousMask_;
    other.handle_ = nullptr;
  }
  return *this;
}

void StartingThread::restore() noexcept {
  if (handle_ == nullptr) return;
  if (previousMask_ != 0) platform::setThreadAffinity(handle_, previousMask_);
  platform::closeThread(handle_);
  handle_ = nullptr;
}

}  // namespace tavro::driver
