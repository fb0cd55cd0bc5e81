#pragma once
// The sink's clock: a thread of its own that sends a 2-byte tick every
// half-buffer period, on a monotonic schedule, at the best priority the
// system grants. It does nothing else, so neither the receiving nor the disk
// can make a tick late.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sink/format/stream_format.h"
#include "sink/network/tick_hooks.h"
#include "sink/os/socket.h"
#include "sink/os/waker.h"

namespace tavro::sink {

class TickPacer {
 public:
  struct Target {
    os::Socket socket = os::kNoSocket;
    bool datagram = false;  // UDP: ticks go to `to`; else the connected TCP socket
    os::Endpoint to;
  };

  // `limit` ticks at most; 0 for no limit.
  TickPacer(const StreamFormat& format, uint64_t limit, TickHooks hooks = {});
  ~TickPacer();
  TickPacer(const TickPacer&) = delete;
  TickPacer& operator=(const TickPacer&) = delete;

  // Tick k goes out k periods after `originNs`. Returns what priority the
  // thread got, as text.
  std::string start(Target target, int64_t originNs);
  void stop();

  // Ticks sent so far; tick k answers with packet k.
  uint64_t sent() const { return sent_.load(std::memory_order_acquire); }
  // When tick k (from 1) went out, or -1 when it has not, or too long ago.
  int64_t sentAt(uint64_t k) const;
  // Ticks that had gone out by `cutoffNs`.
  uint64_t sentBy(int64_t cutoffNs) const;
  // True once the limit is reached or the connection refused a tick.
  bool done() const { return done_.load(std::memory_order_acquire); }
  // Where the schedule starts: tick k is due k periods after it.
  int64_t originNs() const { return originNs_.load(std::memory_order_acquire); }
  int64_t lateMaxNs() const { return lateMaxNs_.load(); }
  uint64_t failures() const { return failures_.load(); }

 private:
  void run(Target target, int64_t originNs);
  bool sleepUntil(int64_t deadlineNs) const;

  const StreamFormat format_;
  const uint64_t limit_;
  const TickHooks hooks_;
  os::Waker stop_;
  std::thread thread_;
  std::vector<std::atomic<int64_t>> sentTimes_;  // ring, by tick number
  std::atomic<uint64_t> sent_{0};
  std::atomic<bool> done_{false};
  std::atomic<int64_t> lateMaxNs_{0};
  std::atomic<int64_t> originNs_{0};
  std::atomic<uint64_t> failures_{0};
};

}  // namespace tavro::sink
