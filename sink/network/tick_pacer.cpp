#include "sink/network/tick_pacer.h"

#include <algorithm>
#include <future>
#include <utility>

#include "sink/os/clock.h"
#include "sink/os/poll.h"
#include "sink/os/thread_priority.h"

namespace tavro::sink {
namespace {

constexpr size_t kRememberedTicks = 1 << 16;
constexpr uint32_t kTickBytes = 2;
constexpr uint32_t kLongestTickBytes = 64;

}  // namespace

TickPacer::TickPacer(const StreamFormat& format, uint64_t limit, TickHooks hooks)
    : format_(format), limit_(limit), hooks_(std::move(hooks)), sentTimes_(kRememberedTicks) {
  int code = 0;
  stop_.open(code);
}

TickPacer::~TickPacer() {
  stop();
}

std::string TickPacer::start(Target target, int64_t originNs) {
  originNs_.store(originNs, std::memory_order_release);
  std::promise<std::string> priority;
  std::future<std::string> granted = priority.get_future();
  // The promise moves to the thread: it may still be inside set_value when
  // the answer has already reached this one.
  thread_ = std::thread([this, target, originNs, priority = std::move(priority)]() mutable {
    // Wake-ups exactly when asked, not batched with other timers.
    os::preciseWakeups();
    priority.set_value(hooks_.gap.count() > 0 ? "normal priority (off the schedule)"
                                              : os::raiseThreadPriority());
    run(target, originNs);
    os::restoreThreadPriority();
  });
  return granted.get();
}

void TickPacer::stop() {
  if (!thread_.joinable()) return;
  stop_.wake();
  thread_.join();
}

int64_t TickPacer::sentAt(uint64_t k) const {
  const uint64_t last = sent();
  if (k == 0 || k > last || last - k >= kRememberedTicks) return -1;
  return sentTimes_[k % kRememberedTicks].load(std::memory_order_relaxed);
}

uint64_t TickPacer::sentBy(int64_t cutoffNs) const {
  uint64_t k = sent();
  for (size_t looked = 0; k > 0 && looked < kRememberedTicks; ++looked, --k) {
    const int64_t at = sentAt(k);
    if (at >= 0 && at <= cutoffNs) break;
  }
  return k;
}

bool TickPacer::sleepUntil(int64_t deadlineNs) const {
  for (;;) {
    const int64_t left = deadlineNs - os::monotonicNs();
    if (left <= 0) return true;
    os::PollEntry stop = os::readable(stop_.watched());
    if (os::poll(&stop, 1, left) > 0) return false;
  }
}

void TickPacer::run(Target target, int64_t originNs) {
  uint64_t sent = 0;
  int64_t lastNs = originNs;
  for (uint64_t slot = 1; limit_ == 0 || sent < limit_; ++slot) {
    const int64_t deadline = originNs + format_.tickOffsetNs(slot);
    if (hooks_.gap.count() > 0) {
      if (!sleepUntil(os::monotonicNs() + hooks_.gap.count())) break;
    } else {
      // Behind schedule, catch up at twice the rate rather than in a burst: a
      // driver that reads two ticks in one receive answers neither.
      const int64_t earliest = lastNs + format_.periodNs() / 2;
      if (!sleepUntil(std::max(deadline, earliest))) break;
    }
    const uint32_t bytes =
        hooks_.length ? std::min(hooks_.length(slot), kLongestTickBytes) : kTickBytes;
    // The tick's content means nothing to the driver; its number helps a capture.
    uint8_t tick[kLongestTickBytes] = {static_cast<uint8_t>(sent + 1),
                                       static_cast<uint8_t>((sent + 1) >> 8)};
    // Published before it goes out: a quick driver may answer before send returns.
    const int64_t now = os::monotonicNs();
    sentTimes_[(sent + 1) % kRememberedTicks].store(now, std::memory_order_relaxed);
    sent_.store(sent + 1, std::memory_order_release);
    const os::Io result = target.datagram ? os::sendTo(target.socket, tick, bytes, target.to)
                                          : os::send(target.socket, tick, bytes);
    if (result.bytes != bytes) {
      sent_.store(sent, std::memory_order_release);
      failures_.fetch_add(1);
      // A full TCP buffer or a transient UDP error skips this tick; a
      // connection that is gone ends the pacing.
      if (!target.datagram && result.error != os::IoError::kNone && !result.again()) break;
      continue;
    }
    ++sent;
    lastNs = now;
    if (now - deadline > lateMaxNs_.load()) lateMaxNs_.store(now - deadline);
  }
  done_.store(true, std::memory_order_release);
}

}  // namespace tavro::sink
