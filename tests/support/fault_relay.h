#pragma once
// A bad network of our own, since these machines cannot shape traffic in the
// kernel: a relay on loopback between the driver and the streamer. It takes
// the driver's TCP connections and datagrams at the address the driver was
// pointed at, passes them on to the streamer's address, and passes the
// streamer's answers back; on the way it harms the driver's datagrams as a
// busy or wireless network does, or holds up the TCP stream.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tavro::testing {

// Every share is of the driver's datagrams, decided for each at random (the
// same way every run); the streamer's ticks always pass unharmed.
struct RelayFaults {
  double datagramLoss = 0;         // share that starts a loss
  uint32_t lossBurst = 1;          // datagrams lost together from there
  double duplication = 0;          // share sent twice
  double reordering = 0;           // share held back until the next one has passed (5 ms at most)
  uint32_t delayMs = 0;            // every datagram waits this long ...
  uint32_t jitterMs = 0;           // ... and up to this much more, so some overtake others
  uint32_t spareFirst = 1;         // the first datagrams always pass (the priming one)
  uint32_t seed = 20261208;
  uint64_t tcpBytesPerSecond = 0;  // the driver's TCP bytes pass no faster; 0: no cap
};

class FaultRelay {
 public:
  // Listens at `front`:`port` (TCP and UDP) and relays to `back`:`port`.
  FaultRelay(std::string front, std::string back, uint16_t port, RelayFaults faults);
  ~FaultRelay();
  FaultRelay(const FaultRelay&) = delete;
  FaultRelay& operator=(const FaultRelay&) = delete;

  // False when an address cannot be used.
  bool start();
  void stop();

  // The driver's TCP bytes wait in the relay for `ms` from now, as on a
  // stalled network; the streamer's ticks still pass.
  void stallFor(int ms);
  // The streamer's TCP bytes (its replies and ticks) wait in the relay for
  // `ms` from now.
  void stallRepliesFor(int ms);
  // Every relayed connection is reset, both ways, as by a failing link.
  void reset();

  uint64_t datagramsDropped() const { return dropped_.load(); }
  uint64_t datagramsPassed() const { return passed_.load(); }
  uint64_t datagramsDuplicated() const { return duplicated_.load(); }
  uint64_t datagramsReordered() const { return reordered_.load(); }

 private:
  void run();
  void wake();

  const std::string front_, back_;
  const uint16_t port_;
  const RelayFaults faults_;
  int listener_ = -1, frontUdp_ = -1, backUdp_ = -1, wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<uint64_t> dropped_{0}, passed_{0}, duplicated_{0}, reordered_{0};
  std::atomic<int64_t> stalledUntilNs_{0}, repliesStalledUntilNs_{0};
  std::atomic<bool> resetAsked_{false};
};

}  // namespace tavro::testing
