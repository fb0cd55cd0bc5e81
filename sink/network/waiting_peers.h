#pragma once
// The connections still in their control exchange: each one's frame as far
// as it has come, and how long it may take. None of them holds the sink: a
// peer that sends nothing before its greeting, or stops in the middle of a
// frame, is dropped when its time is up, and when too many wait the oldest
// goes, so a scan of the port never locks out the player that comes next.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sink/network/control_frame.h"
#include "sink/os/socket.h"

namespace tavro::sink {

struct WaitingPeer {
  os::Socket fd = os::kNoSocket;
  std::string from;     // "192.168.1.20:50312", for the log
  std::string address;  // "192.168.1.20"
  // Once a peer has sent a greeting it is a driver, and it may wait for its
  // host as long as it likes between frames: a player opens the driver long
  // before the user presses play.
  bool greeted = false;
  size_t bytes = 0;    // of the frame under way
  int64_t deadlineNs;  // when the greeting or the frame under way is overdue
  uint8_t frame[kFrameBytes];
};

class WaitingPeers {
 public:
  enum class Read { kPartial, kFrame, kClosed };

  WaitingPeers(size_t most, int64_t limitNs) : most_(most), limitNs_(limitNs) {}
  ~WaitingPeers();
  WaitingPeers(const WaitingPeers&) = delete;
  WaitingPeers& operator=(const WaitingPeers&) = delete;

  // Takes `fd`. When the table is full, first closes the oldest peer that has
  // not greeted (else the oldest of all) and returns its `from`.
  std::string add(os::Socket fd, std::string from, std::string address, int64_t nowNs);
  WaitingPeer* find(os::Socket fd);
  // Reads what has come of the frame under way.
  Read read(WaitingPeer& peer, int64_t nowNs);
  // After a reply: the next frame has its own time.
  void restart(WaitingPeer& peer, int64_t nowNs);
  // Closes the connection, unless `keepOpen` (it goes on as a stream).
  void remove(os::Socket fd, bool keepOpen = false);
  // Closes those overdue; returns a line for each.
  std::vector<std::string> dropOverdue(int64_t nowNs);
  // Nanoseconds until the next deadline, or -1 when none is set.
  int64_t nsUntilNextDeadline(int64_t nowNs) const;
  std::vector<os::Socket> fds() const;
  size_t size() const { return peers_.size(); }
  void closeAll();

 private:
  const size_t most_;
  const int64_t limitNs_;
  std::vector<std::unique_ptr<WaitingPeer>> peers_;  // oldest first
};

}  // namespace tavro::sink
