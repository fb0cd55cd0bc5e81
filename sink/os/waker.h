#pragma once
// Wakes a thread out of its poll from another thread: its socket turns
// readable at wake() and stays so until drain(). On POSIX a pipe; Winsock
// polls sockets only, so there a connected pair of loopback UDP sockets.
#include "sink/os/socket.h"

namespace tavro::sink::os {

class Waker {
 public:
  Waker() = default;
  ~Waker() { close(); }
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  // False with the system's error in `code`.
  bool open(int& code);
  void close();
  bool isOpen() const { return watched_ != kNoSocket; }

  // Safe from any thread, as often as wanted.
  void wake();
  // On the polling thread: readable no more until the next wake().
  void drain();
  Socket watched() const { return watched_; }

 private:
  Socket watched_ = kNoSocket;
  Socket poke_ = kNoSocket;
};

}  // namespace tavro::sink::os
