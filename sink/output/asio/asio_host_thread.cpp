#include "sink/output/asio/asio_host_thread.h"

#include <objbase.h>
#include <windows.h>

namespace tavro::sink {

AsioHostThread::AsioHostThread() {
  jobPosted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = std::thread([this] { main(); });
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return started_; });
}

AsioHostThread::~AsioHostThread() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  if (jobPosted_ != nullptr) SetEvent(jobPosted_);
  if (thread_.joinable()) thread_.join();
  if (jobPosted_ != nullptr) CloseHandle(jobPosted_);
}

void AsioHostThread::runJob(void* context, void (*call)(void*)) {
  if (jobPosted_ == nullptr || !comReady_) {
    call(context);  // no thread to run it on: the caller's own is all there is
    return;
  }
  std::unique_lock lock(mutex_);
  jobContext_ = context;
  jobCall_ = call;
  SetEvent(jobPosted_);
  done_.wait(lock, [this] { return jobCall_ == nullptr; });
}

void AsioHostThread::main() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    const std::lock_guard lock(mutex_);
    comReady_ = SUCCEEDED(com) && jobPosted_ != nullptr;
    started_ = true;
  }
  done_.notify_all();
  while (comReady_) {
    const HANDLE posted = jobPosted_;
    const DWORD woke = MsgWaitForMultipleObjects(1, &posted, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0 + 1) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      continue;
    }
    std::unique_lock lock(mutex_);
    if (jobCall_ != nullptr) {
      jobCall_(jobContext_);
      jobCall_ = nullptr;
      jobContext_ = nullptr;
      lock.unlock();
      done_.notify_all();
      lock.lock();
    }
    if (quit_) break;
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace tavro::sink
