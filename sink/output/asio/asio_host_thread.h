#pragma once
// The thread an ASIO driver lives on. Hosts create a driver, set it up,
// start and release it from one thread that pumps window messages, and many
// drivers count on it: they make hidden windows or timers at init and expect
// their messages to be dispatched. The sink's own threads wait on sockets,
// so each driver gets a thread of this kind, in a COM single-threaded
// apartment, and every call to the driver but the ones it makes itself is
// run there.
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavro::sink {

class AsioHostThread {
 public:
  AsioHostThread();
  ~AsioHostThread();
  AsioHostThread(const AsioHostThread&) = delete;
  AsioHostThread& operator=(const AsioHostThread&) = delete;

  // False when COM could not be started on the thread.
  bool ready() const { return comReady_; }

  // Runs `job` on the thread and returns when it has run. The job is taken
  // by reference: nothing is allocated, so the stream's thread may call it.
  template <typename Job>
  void run(Job& job) {
    runJob(&job, [](void* context) { (*static_cast<Job*>(context))(); });
  }

 private:
  void runJob(void* context, void (*call)(void*));
  void main();

  std::mutex mutex_;
  std::condition_variable done_;
  void* jobContext_ = nullptr;
  void (*jobCall_)(void*) = nullptr;
  bool quit_ = false;
  bool started_ = false;
  bool comReady_ = false;
  void* jobPosted_ = nullptr;  // the event the thread waits on beside its messages
  std::thread thread_;
};

}  // namespace tavro::sink
