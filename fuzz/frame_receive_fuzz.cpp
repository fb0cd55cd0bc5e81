// A frame received from a streamer that sends whatever it likes, in segments
// of whatever size, then closes: the receive must end, and the decoded text
// stay inside the frame and stop at the first NUL.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "control/control_connection.h"
#include "control/wire_frame.h"
#include "platform/net.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavro;
  if (size < 1) return 0;
  const size_t segment = 1 + data[0] % 64;
  ++data;
  --size;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
  // Written from a thread of its own: tiny segments fill the socket's buffer
  // long before the bytes do, and only the receive empties it.
  std::thread writer([&, size] {
    for (size_t at = 0; at < size;) {
      const ssize_t put = ::write(ends[1], data + at, std::min(segment, size - at));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) break;
      at += static_cast<size_t>(put);
    }
    ::close(ends[1]);
  });
  // A connection of its own: the fuzzer is the only one using it.
  static control::Connection connection;
  connection.adopt(static_cast<platform::Socket>(ends[0]));
  const bool whole = control::receiveFrame(connection);
  // What the frame did not take is read to the end, or the writer would
  // block on a full socket forever. The fuzzer's own timer signal may
  // interrupt a read: that is no end.
  uint8_t rest[4096];
  for (;;) {
    const ssize_t got = ::read(ends[0], rest, sizeof rest);
    if (got == 0 || (got < 0 && errno != EINTR)) break;
  }
  writer.join();
  if (whole != (size >= control::kFrameBytes)) __builtin_trap();
  const control::FrameText text(connection.frame());
  const auto view = text.view();
  if (view.size() > control::kFrameUnits) __builtin_trap();
  if (view.find(u'\0') != std::u16string_view::npos) __builtin_trap();
  connection.close();
  return 0;
}
