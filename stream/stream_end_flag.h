#pragma once
// Whether the stream has ended, and with it the claim to end it: the host's
// stop and the stream's own end may arrive at the same moment, and only the
// side that turns the flag from false to true winds the stream up.
//
// Every read passes a seam where a test can hold the reading thread, so that
// the other side arrives between that read and whatever the first side does
// next; a claim made of a separate read and write would then be won twice.
#include <atomic>

namespace tavro::stream {

using EndFlagSeam = void (*)() noexcept;

class StreamEndFlag {
 public:
  explicit StreamEndFlag(bool ended) noexcept : flag_(ended) {}

  bool load(std::memory_order order = std::memory_order_seq_cst) const noexcept {
    const bool value = flag_.load(order);
    afterRead();
    return value;
  }
  bool exchange(bool value, std::memory_order order = std::memory_order_seq_cst) noexcept {
    const bool previous = flag_.exchange(value, order);
    afterRead();
    return previous;
  }
  void store(bool value, std::memory_order order = std::memory_order_seq_cst) noexcept {
    flag_.store(value, order);
  }

 private:
  static void afterRead() noexcept;

  std::atomic<bool> flag_;
};

// For tests: called on the reading thread after every read of the flag;
// null, the default, for none.
void setEndFlagSeam(EndFlagSeam seam) noexcept;

}  // namespace tavro::stream
