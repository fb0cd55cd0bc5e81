#include "sink/os/waker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tavro::sink::os {

bool Waker::open(int& code) {
  close();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    code = errno;
    return false;
  }
  watched_ = ends[0];
  poke_ = ends[1];
  return true;
}

void Waker::close() {
  closeSocket(watched_);
  closeSocket(poke_);
  watched_ = poke_ = kNoSocket;
}

void Waker::wake() {
  const char byte = 0;
  // A full pipe is readable already.
  [[maybe_unused]] const ssize_t written = ::write(poke_, &byte, 1);
}

void Waker::drain() {
  char scrap[64];
  while (::read(watched_, scrap, sizeof scrap) > 0) {
  }
}

}  // namespace tavro::sink::os
