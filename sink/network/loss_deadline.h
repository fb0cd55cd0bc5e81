#pragma once
// How long a packet asked for over UDP is waited for before it is given up
// as lost and silence plays in its place. Datagrams carry no number, so one
// packet is asked for at a time, and the card plays on while the sink waits:
// every millisecond spent on a datagram that will never come is a
// millisecond of the card's buffer gone. The wait is learned from the
// round trips this stream has had (tick sent to packet whole): a good deal
// longer than the slowest of the recent ones, so that a packet merely late
// is not taken for lost (it would then play in the next one's place), and
// never longer than the card can wait.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tavro::sink {

enum class GiveUp {
  kLearned,    // from the recent round trips, within the bounds
  kNearlyDry,  // half a period before the card runs dry (the earlier rule)
};

class LossDeadline {
 public:
  // `upperNs`: the longest the card can wait, half a period before it runs dry.
  LossDeadline(GiveUp rule, int64_t periodNs, int64_t upperNs);

  void addRoundTrip(int64_t ns);
  int64_t giveUpAfterNs() const { return current_; }
  size_t samples() const { return count_ < kRecent ? count_ : kRecent; }
  // Of the recent round trips; 0 before any.
  int64_t medianNs() const;
  int64_t highestNs() const;

  static constexpr size_t kRecent = 256;
  // Round trips seen before the learned wait replaces the upper bound.
  static constexpr size_t kLearnFrom = 16;

 private:
  const GiveUp rule_;
  const int64_t floorNs_;
  const int64_t upperNs_;
  std::array<int64_t, kRecent> recent_{};
  size_t count_ = 0;
  int64_t current_;
};

}  // namespace tavro::sink
