#include "sink/send_all.h"

#include <sys/socket.h>

#include <cerrno>

namespace tavro::sink {

bool sendAll(int connection, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(connection, data, size, MSG_NOSIGNAL);
    if (sent <= 0) {
      if (sent < 0 && errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace tavro::sink
