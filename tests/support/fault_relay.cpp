#if !defined(_WIN32)
#include "support/fault_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <random>
#include <vector>

namespace tavro::testing {
namespace {

sockaddr_in endpoint(const std::string& address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  return to;
}

int boundSocket(int type, const sockaddr_in& at) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

bool sendAll(int fd, const uint8_t* data, ssize_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= sent;
  }
  return true;
}

// A datagram held back for another to overtake it goes on alone after this.
constexpr int64_t kMostHeldBackNs = 5'000'000;

// The cap lets bytes through in pieces of at least this many.
constexpr int64_t kCapChunk = 1024;

int64_t nowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Closed with a reset, not an orderly end: what a failing link looks like.
void resetQuietly(int fd) {
  const linger now{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  ::close(fd);
}

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

FaultRelay::FaultRelay(std::string front, std::string back, uint16_t port, RelayFaults faults)
    : front_(std::move(front)), back_(std::move(back)), port_(port), faults_(faults) {}

FaultRelay::~FaultRelay() { stop(); }

bool FaultRelay::start() {
  listener_ = boundSocket(SOCK_STREAM, endpoint(front_, port_));
  frontUdp_ = boundSocket(SOCK_DGRAM, endpoint(front_, port_));
  backUdp_ = boundSocket(SOCK_DGRAM, endpoint(front_, 0));
  if (listener_ < 0 || frontUdp_ < 0 || backUdp_ < 0 || ::listen(listener_, 4) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    stop();
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void FaultRelay::stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listener_, &frontUdp_, &backUdp_, &wake_[0], &wake_[1]}) closeQuietly(*fd);
}

void FaultRelay::wake() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
}

void FaultRelay::stallFor(int ms) {
  stalledUntilNs_.store(nowNs() + int64_t{ms} * 1'000'000);
  wake();
}

void FaultRelay::stallRepliesFor(int ms) {
  repliesStalledUntilNs_.store(nowNs() + int64_t{ms} * 1'000'000);
  wake();
}

void FaultRelay::reset() {
  resetAsked_.store(true);
  wake();
}

void FaultRelay::run() {
  struct Pair {
    int driver, streamer;
  };
  std::vector<Pair> pairs;
  std::mt19937 random(faults_.seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  sockaddr_in driverUdp{};
  uint64_t datagrams = 0;
  uint32_t burstLeft = 0;
  // The driver's datagrams on their way, each with when it is let go.
  struct Held {
    int64_t dueNs;
    std::vector<uint8_t> bytes;
  };
  std::vector<Held> held;
  // Waits for the next datagram to overtake it, but no longer than a
  // network would hold it: with one packet asked for at a time, the next
  // one comes only after this one.
  std::optional<Held> heldBack;
  const sockaddr_in streamerUdp = endpoint(back_, port_);
  const int64_t capStartNs = nowNs();
  uint64_t cappedBytes = 0;
  uint8_t buffer[65536];
  for (;;) {
    std::vector<pollfd> watched = {{wake_[0], POLLIN, 0},
                                   {listener_, POLLIN, 0},
                                   {frontUdp_, POLLIN, 0},
                                   {backUdp_, POLLIN, 0}};
    // A capped link lets through what its rate allows since the cap began.
    const int64_t now = nowNs();
    int64_t allowance = INT64_MAX;
    int64_t capWaitNs = 0;
    if (faults_.tcpBytesPerSecond != 0) {
      const auto earned =
          static_cast<int64_t>(static_cast<double>(now - capStartNs) *
                               static_cast<double>(faults_.tcpBytesPerSecond) / 1e9);
      allowance = earned - static_cast<int64_t>(cappedBytes);
      if (allowance < kCapChunk) {
        capWaitNs = (kCapChunk - allowance) * 1'000'000'000 /
                    static_cast<int64_t>(faults_.tcpBytesPerSecond);
      }
    }
    const int64_t stallLeftNs = std::max(stalledUntilNs_.load() - now, capWaitNs);
    const int64_t repliesLeftNs = repliesStalledUntilNs_.load() - now;
    for (const Pair& pair : pairs) {
      // While stalled, the driver's bytes are not read: they wait in the
      // kernel's buffers, and the driver's sends block once those are full.
      watched.push_back({stallLeftNs > 0 ? -1 : pair.driver, POLLIN, 0});
      watched.push_back({repliesLeftNs > 0 ? -1 : pair.streamer, POLLIN, 0});
    }
    // A connection accepted below is polled from the next round on.
    const size_t polledPairs = pairs.size();
    int64_t waitNs = INT64_MAX;
    for (const int64_t left : {stallLeftNs, repliesLeftNs}) {
      if (left > 0) waitNs = std::min(waitNs, left);
    }
    if (heldBack) held.push_back(*heldBack);  // its time limit counts too
    for (const Held& datagram : held) {
      waitNs = std::min(waitNs, std::max<int64_t>(datagram.dueNs - now, 0));
    }
    if (heldBack) held.pop_back();
    const int timeoutMs =
        waitNs == INT64_MAX ? -1 : static_cast<int>((waitNs + 999'999) / 1'000'000);
    if (::poll(watched.data(), watched.size(), timeoutMs) < 0) continue;
    if (watched[0].revents != 0) {
      char byte = 1;
      if (::read(wake_[0], &byte, 1) == 1 && byte != 0) break;
      if (resetAsked_.exchange(false)) {
        for (const Pair& pair : pairs) {
          resetQuietly(pair.driver);
          resetQuietly(pair.streamer);
        }
        pairs.clear();
      }
      continue;
    }
    if (watched[1].revents != 0) {
      const int driver = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int streamer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in to = endpoint(back_, port_);
      if (driver >= 0 && streamer >= 0 &&
          ::connect(streamer, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        pairs.push_back({driver, streamer});
      } else {
        if (driver >= 0) ::close(driver);
        if (streamer >= 0) ::close(streamer);
      }
    }
    if (watched[2].revents != 0) {
      socklen_t size = sizeof driverUdp;
      const ssize_t got = ::recvfrom(frontUdp_, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&driverUdp), &size);
      if (got >= 0) {
        const bool harmed = ++datagrams > faults_.spareFirst;
        if (harmed && burstLeft == 0 && chance(random) < faults_.datagramLoss) {
          burstLeft = std::max<uint32_t>(faults_.lossBurst, 1);
        }
        if (burstLeft > 0) {
          --burstLeft;
          dropped_.fetch_add(1);
        } else {
          passed_.fetch_add(1);
          std::vector<uint8_t> bytes(buffer, buffer + got);
          const int copies = harmed && chance(random) < faults_.duplication ? 2 : 1;
          if (copies == 2) duplicated_.fetch_add(1);
          const bool holdBack = harmed && !heldBack && chance(random) < faults_.reordering;
          const bool overtaking = !holdBack && heldBack.has_value();
          for (int copy = 0; copy < copies; ++copy) {
            const int64_t due = nowNs() + int64_t{faults_.delayMs} * 1'000'000 +
                                static_cast<int64_t>(chance(random) * faults_.jitterMs * 1e6);
            if (holdBack && copy == 0) {
              heldBack = Held{nowNs() + kMostHeldBackNs, bytes};
            } else {
              held.push_back({due, bytes});
            }
          }
          // The next datagram has overtaken the one held back: it follows.
          if (overtaking) {
            heldBack->dueNs = held.back().dueNs;
            held.push_back(std::move(*heldBack));
            heldBack.reset();
            reordered_.fetch_add(1);
          }
        }
      }
    }
    if (heldBack && heldBack->dueNs <= nowNs()) {
      held.push_back(std::move(*heldBack));
      heldBack.reset();
    }
    // What the network has carried far enough reaches the streamer, in the
    // order it became due.
    std::stable_sort(held.begin(), held.end(),
                     [](const Held& a, const Held& b) { return a.dueNs < b.dueNs; });
    const int64_t sendNow = nowNs();
    size_t due = 0;
    while (due < held.size() && held[due].dueNs <= sendNow) {
      ::sendto(backUdp_, held[due].bytes.data(), held[due].bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&streamerUdp), sizeof streamerUdp);
      ++due;
    }
    held.erase(held.begin(), held.begin() + static_cast<ptrdiff_t>(due));
    if (watched[3].revents != 0) {
      const ssize_t got = ::recv(backUdp_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got >= 0) {
        ::sendto(frontUdp_, buffer, static_cast<size_t>(got), 0,
                 reinterpret_cast<const sockaddr*>(&driverUdp), sizeof driverUdp);
      }
    }
    for (size_t i = 0; i < polledPairs; ++i) {
      Pair& pair = pairs[i];
      bool closed = false;
      for (int side = 0; side < 2 && !closed; ++side) {
        if (watched[4 + 2 * i + side].revents == 0) continue;
        const int from = side == 0 ? pair.driver : pair.streamer;
        const int to = side == 0 ? pair.streamer : pair.driver;
        const size_t most = side == 0
                                ? static_cast<size_t>(std::min<int64_t>(allowance, sizeof buffer))
                                : sizeof buffer;
        const ssize_t got = ::recv(from, buffer, most, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR) ||
            (got > 0 && !sendAll(to, buffer, got))) {
          closed = true;
        }
        if (side == 0 && got > 0) cappedBytes += static_cast<uint64_t>(got);
      }
      if (closed) {
        // One side's end is the other's: the driver learns of a closed
        // streamer as it would without the relay.
        ::close(pair.driver);
        ::close(pair.streamer);
        pair.driver = -1;
      }
    }
    std::erase_if(pairs, [](const Pair& pair) { return pair.driver < 0; });
  }
  for (const Pair& pair : pairs) {
    ::close(pair.driver);
    ::close(pair.streamer);
  }
}

}  // namespace tavro::testing
#endif
