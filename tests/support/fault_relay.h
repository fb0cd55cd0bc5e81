#pragma once
// A bad network of our own, since these machines cannot shape traffic in the
// kernel: a relay on loopback between the driver and the streamer. It takes
// the driver's TCP connections and datagrams at the address the driver was
// pointed at, passes them on to the streamer's address, and passes the
// streamer's answers back; on the way it loses some of the driver's
// datagrams.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tavro::testing {

struct RelayFaults {
  double datagramLoss = 0;         // share of the driver's datagrams dropped, at random
  uint32_t spareFirst = 1;         // the first datagrams always pass (the priming one)
  uint32_t seed = 20261208;        // the same losses every run
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
  // Every relayed connection is reset, both ways, as by a failing link.
  void reset();

  uint64_t datagramsDropped() const { return dropped_.load(); }
  uint64_t datagramsPassed() const { return passed_.load(); }

 private:
  void run();

  const std::string front_, back_;
  const uint16_t port_;
  const RelayFaults faults_;
  int listener_ = -1, frontUdp_ = -1, backUdp_ = -1, wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<uint64_t> dropped_{0}, passed_{0};
  std::atomic<int64_t> stalledUntilNs_{0};
  std::atomic<bool> resetAsked_{false};
};

}  // namespace tavro::testing
